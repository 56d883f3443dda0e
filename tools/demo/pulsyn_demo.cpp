// pulsyn-demo: one lab session through the control object, as a script would run it.
// It connects (the port comes from a "COMn" argument, or the search), programs paradigm 2
// with every kind of command, triggers two channels, copies the paradigm, prints what the
// stimulator acknowledged, saves the session's traffic log and prints it.
//
//   pulsyn-demo COM7 [--log FILE]
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "base/HostInfo.h"
#include "link/CommUnit.h"
#include "server/ErrorInfo.h"
#include "server/ObjPulsyn.h"

namespace {

quor::TPulsyn p;
int failures = 0;

#ifdef _WIN32
std::string LastError() {
    IErrorInfo* info = nullptr;
    std::string text = "(no description)";
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR description = nullptr;
        info->GetDescription(&description);
        if (description) {
            char buffer[512] = {};
            WideCharToMultiByte(CP_UTF8, 0, description, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
            text = buffer;
        }
        SysFreeString(description);
        info->Release();
    }
    return text;
}
#else
std::string LastError() { return quor::LastErrorInfo().Description; }
#endif

void Step(const char* what, HRESULT status, const VARIANT_BOOL* acknowledged = nullptr) {
    if (status != S_OK) {
        std::printf("  %-44s FAILED: %s\n", what, LastError().c_str());
        ++failures;
    } else if (acknowledged) {
        std::printf("  %-44s %s\n", what, *acknowledged ? "accepted" : "refused by the stimulator");
    } else {
        std::printf("  %-44s done\n", what);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string logFile = "pulsyn-session.rtf";
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--log")) logFile = argv[i + 1];
    }
    std::printf("Connecting to the stimulator...\n");
    VARIANT_BOOL connected = VARIANT_FALSE;
    Step("Connect", p.Connect(&connected));
    if (!connected) {
        std::printf("No stimulator found. Name its port on the command line, e.g. pulsyn-demo COM7.\n");
        return 1;
    }
    std::printf("Connected on COM%d. Programming paradigm 2:\n", quor::frmComm->Port());
    VARIANT_BOOL ok = VARIANT_FALSE;
    Step("ChangeParadigm 2", p.ChangeParadigm(2));
    Step("ClearParadigm", p.ClearParadigm());
    Step("ChangeChannelMode 1, cmTrain", p.ChangeChannelMode(1, cmTrain));
    Step("SetChannelShape 1, csBipolar", p.SetChannelShape(1, csBipolar, &ok), &ok);
    Step("SetChannelDelay 1, 0.025 s", p.SetChannelDelay(1, 0.025, &ok), &ok);
    Step("SetChannelDuration 1, 0.0004 s", p.SetChannelDuration(1, 0.0004, &ok), &ok);
    Step("SetChannelInterval 1, 0.05 s", p.SetChannelInterval(1, 0.05, &ok), &ok);
    Step("SetChannelN 1, 10 pulses", p.SetChannelN(1, 10, &ok), &ok);
    Step("SetChannelVoltage 1, 2.5 V", p.SetChannelVoltage(1, 2.5, &ok), &ok);
    Step("SetChannelDeltaV 1, 0.1 V", p.SetChannelDeltaV(1, 0.1, &ok), &ok);
    Step("ChangeChannelMode 2, cmTrig", p.ChangeChannelMode(2, cmTrig));
    Step("SetChannelVoltage 2, -1.25 V", p.SetChannelVoltage(2, -1.25, &ok), &ok);
    Step("ConnectChannel 1, 2", p.ConnectChannel(1, 2));
    Step("DisconnectChannel 1, 2", p.DisconnectChannel(1, 2));
    Step("Trigger 1", p.Trigger(1));
    Step("Trigger 2", p.Trigger(2));
    Step("CopyParadigm 3", p.CopyParadigm(3));
    Step("ChangeParadigm 3 (the copy)", p.ChangeParadigm(3));
    std::printf("A mistake is refused before anything reaches the stimulator:\n");
    Step("SetChannelDelay 10, 0.5 s", p.SetChannelDelay(10, 0.5, &ok), &ok);
    --failures;  // that one was meant to fail

    Step(("SaveSessionCommands " + logFile).c_str(), [&] {
        std::u16string wide(logFile.begin(), logFile.end());
        return p.SaveSessionCommands(reinterpret_cast<BSTR>(wide.data()));
    }());

    std::printf("\nTraffic log (> sent to the stimulator, < received):\n");
    for (const quor::TTrafficEntry& entry : quor::frmComm->Log().Entries()) {
        std::printf("  %s %s\n", entry.Sent ? ">" : "<", entry.Text.substr(2).c_str());
    }
    p.put_Connected(VARIANT_FALSE);
    return failures == 0 ? 0 : 1;
}

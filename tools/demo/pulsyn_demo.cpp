// pulsyn-demo: the lab session of examples/session.vbs through the control object, natively:
// the same calls in the same order with the same values, the same deliberate mistake, and the
// same report, line for line, so that either run leaves the stimulator in the same state.
//
//   pulsyn-demo [COM7] [--log FILE]
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "server/ErrorInfo.h"
#include "server/ObjPulsyn.h"

namespace {

quor::TPulsyn p;

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

int refused = 0;
bool stopped = false;

// A call that failed ends the session, as an uncaught error ends the script.
bool Failed(const std::string& what, HRESULT status) {
    if (status == S_OK) return false;
    std::printf("  %s: error &H%08lX: %s\n", what.c_str(), static_cast<unsigned long>(static_cast<uint32_t>(status)), LastError().c_str());
    stopped = true;
    return true;
}

// The other commands answer nothing.
void Done(const std::string& what, HRESULT status) {
    if (!stopped && !Failed(what, status)) std::printf("  %s: done\n", what.c_str());
}

// The value setters answer True when the stimulator accepted the value.
void Report(const std::string& what, HRESULT status, VARIANT_BOOL accepted) {
    if (stopped || Failed(what, status)) return;
    if (accepted) {
        std::printf("  %s: accepted\n", what.c_str());
    } else {
        std::printf("  %s: REFUSED by the stimulator\n", what.c_str());
        ++refused;
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
    if (Failed("Connect", p.Connect(&connected))) return 1;
    if (!connected) {
        std::printf("No stimulator found. Name its port: pulsyn-demo COM7\n");
        return 1;
    }
    std::printf("Connected.\n");

    std::printf("Programming paradigm 2:\n");
    VARIANT_BOOL ok = VARIANT_FALSE;
    HRESULT status = S_OK;
    Done("ChangeParadigm 2", p.ChangeParadigm(2));
    Done("ClearParadigm (all channels off)", p.ClearParadigm());

    // Channel 1: a train of 10 bipolar pulses, 0.4 ms long, every 50 ms, 25 ms after the
    // trigger, starting at 2.5 V and growing by 0.1 V from pulse to pulse.
    Done("ChangeChannelMode 1, cmTrain", p.ChangeChannelMode(1, cmTrain));
    status = p.SetChannelShape(1, csBipolar, &ok), Report("SetChannelShape 1, csBipolar", status, ok);
    status = p.SetChannelDelay(1, 0.025, &ok), Report("SetChannelDelay 1, 0.025 s", status, ok);
    status = p.SetChannelDuration(1, 0.0004, &ok), Report("SetChannelDuration 1, 0.0004 s", status, ok);
    status = p.SetChannelInterval(1, 0.05, &ok), Report("SetChannelInterval 1, 0.05 s", status, ok);
    status = p.SetChannelN(1, 10, &ok), Report("SetChannelN 1, 10 pulses", status, ok);
    status = p.SetChannelVoltage(1, 2.5, &ok), Report("SetChannelVoltage 1, 2.5 V", status, ok);
    status = p.SetChannelDeltaV(1, 0.1, &ok), Report("SetChannelDeltaV 1, 0.1 V", status, ok);

    // Channel 2: one monopolar pulse of 1 ms, 10 ms after its trigger, -1.25 V, step -0.05 V.
    Done("ChangeChannelMode 2, cmTrig", p.ChangeChannelMode(2, cmTrig));
    status = p.SetChannelShape(2, csMonopolar, &ok), Report("SetChannelShape 2, csMonopolar", status, ok);
    status = p.SetChannelDelay(2, 0.01, &ok), Report("SetChannelDelay 2, 0.01 s", status, ok);
    status = p.SetChannelDuration(2, 0.001, &ok), Report("SetChannelDuration 2, 0.001 s", status, ok);
    status = p.SetChannelVoltage(2, -1.25, &ok), Report("SetChannelVoltage 2, -1.25 V", status, ok);
    status = p.SetChannelDeltaV(2, -0.05, &ok), Report("SetChannelDeltaV 2, -0.05 V", status, ok);

    // Join channel 2 to channel 1 (a trigger of 1 then starts 2 as well), fire, separate them.
    Done("ConnectChannel 1, 2", p.ConnectChannel(1, 2));
    Done("Trigger 1", p.Trigger(1));
    Done("DisconnectChannel 1, 2", p.DisconnectChannel(1, 2));
    Done("Trigger 2", p.Trigger(2));

    // Keep a copy of the whole paradigm as paradigm 3.
    Done("CopyParadigm 3", p.CopyParadigm(3));
    if (stopped) return 1;

    // A mistake: there is no channel 10. QuorLib refuses it before anything reaches the
    // stimulator, and the error information says why.
    std::printf("A deliberate mistake:\n");
    status = p.SetChannelDelay(10, 0.5, &ok);
    if (status != S_OK) {
        std::printf("  SetChannelDelay 10, 0.5 s: error &H%08lX from QuorLib.Pulsyn: %s\n",
                    static_cast<unsigned long>(static_cast<uint32_t>(status)), LastError().c_str());
    } else {
        std::printf("  SetChannelDelay 10, 0.5 s: unexpectedly accepted\n");
        ++refused;
    }

    std::u16string wide(logFile.begin(), logFile.end());
    Done("SaveSessionCommands " + logFile, p.SaveSessionCommands(reinterpret_cast<BSTR>(wide.data())));
    Done("Disconnected", p.put_Connected(VARIANT_FALSE));
    if (stopped) return 1;

    if (refused > 0) {
        std::printf("%d value(s) were refused.\n", refused);
        return 1;
    }
    std::printf("Session complete.\n");
    return 0;
}

#include "PulsynTestSupport.h"

#include "base/HostInfo.h"
#include "base/MainThread.h"
#include "link/PortNames.h"
#include "server/ErrorInfo.h"
#include "server/LinkRegistry.h"

#ifdef _WIN32
#include <windows.h>
#include <oleauto.h>

#include "base/WideText.h"
#endif

using namespace std::chrono_literals;

namespace bench {

void PulsynTest::SetUp() {
    FPolicy = quor::LinkPolicy();
    quor::ReleaseAllLinks();
    DeviceA().Reset();
    DeviceB().Reset();
    SetCandidatePorts({kPortA, kPortA2, kPortB, kPortB2});
    Args({"COM" + std::to_string(kPortA)});
    quor::TfrmComm::DefaultReplyTimeout = 3000ms;
    quor::TfrmComm::DefaultReopenPause = 10ms;
}

void PulsynTest::TearDown() {
    // No answer of this test may reach the next test's port (the "=" to a last trigger may
    // still be on its way). A device handles its input in order, so once a final exchange has
    // been answered and read, everything before it has been answered and read too.
    if (quor::frmComm && quor::frmComm->Comm32().Enabled() && !quor::frmComm->InDialogue()) {
        DeviceA().Reset();
        DeviceB().Reset();
        try {
            quor::frmComm->Dialogue("GP");
        } catch (...) {
        }
    }
    quor::ReleaseAllLinks();
    quor::SetLinkPolicy(FPolicy);
    quor::SetHostArgumentsForTesting(nullptr);
    quor::SetDosDeviceQueryForTesting(nullptr);
}

void PulsynTest::Args(std::vector<std::string> arguments) {
    FArguments = std::move(arguments);
    quor::SetHostArgumentsForTesting(&FArguments);
}

void PulsynTest::ConnectTo(quor::TPulsyn& p) {
    VARIANT_BOOL connected = VARIANT_FALSE;
    ASSERT_EQ(p.Connect(&connected), S_OK) << LastDescription();
    ASSERT_EQ(connected, VARIANT_TRUE);
}

bool PulsynTest::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        quor::ProcessMessages();
        quor::WaitForMessages(10ms);
    }
    quor::ProcessMessages();
    return done();
}

std::vector<std::string> PulsynTest::LogLines() {
    std::vector<std::string> lines;
    if (!quor::frmComm) return lines;
    for (const quor::TTrafficEntry& entry : quor::frmComm->Log().Entries()) {
        const size_t marker = entry.Text.find(":.....");
        lines.push_back(std::string(entry.Sent ? "> " : "< ") +
                        (marker == std::string::npos ? entry.Text : entry.Text.substr(marker + 6)));
    }
    return lines;
}

#ifdef _WIN32
namespace {
std::string ErrorInfoField(bool source) {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return "(no error information)";
    BSTR text = nullptr;
    if (source) {
        info->GetSource(&text);
    } else {
        info->GetDescription(&text);
    }
    std::string result = text ? quor::ToUtf8(text) : std::string();
    SysFreeString(text);
    SetErrorInfo(0, info);  // reading takes the record; put it back for the next reader
    info->Release();
    return result;
}
}  // namespace
std::string PulsynTest::LastDescription() { return ErrorInfoField(false); }
std::string PulsynTest::LastSource() { return ErrorInfoField(true); }
#else
std::string PulsynTest::LastDescription() { return quor::LastErrorInfo().Description; }
std::string PulsynTest::LastSource() { return quor::LastErrorInfo().Source; }
#endif

}  // namespace bench

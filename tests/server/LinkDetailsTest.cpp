// Smaller contracts of the device link: the trace lines, the error handler's log entry,
// reading the acknowledgement's reason, and the timed pump.
#include <algorithm>
#include <chrono>
#include <map>
#include <set>

#include "PulsynTestSupport.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include "base/HostInfo.h"

using namespace std::chrono_literals;
using quor::TfrmComm;

namespace bench {
namespace {

class LinkDetailsTest : public PulsynTest {
protected:
    void SetUp() override {
        PulsynTest::SetUp();
        ConnectTo(p);
    }
    void TearDown() override {
        TfrmComm::SetPumpHookForTesting({});
        PulsynTest::TearDown();
    }
    // The line stops carrying output right after the next prompt byte went out (a stalled
    // adapter, the device's XOFF), at the first point where the link lets messages run.
    void HoldOutputAfterThePrompt() {
        hold = true;
        TfrmComm::SetPumpHookForTesting([this] {
            if (!hold || !quor::frmComm) return;
            hold = false;
            quor::frmComm->Comm32().SetXONState(false);
        });
    }
    quor::TPulsyn p;
    bool hold = false;
};

// A call reported as failed because the line would not take its command: that command never
// reaches the stimulator, also not when the line carries the next one.
TEST_F(LinkDetailsTest, ACommandReportedAsFailedNeverReachesTheStimulator) {
    quor::frmComm->Comm32().SetWriteTimeout(200);
    ASSERT_EQ(p.ClearParadigm(), S_OK);
    DeviceA().Reset();

    HoldOutputAfterThePrompt();
    EXPECT_EQ(p.Trigger(1), E_UNEXPECTED);
    EXPECT_EQ(LastDescription().rfind("Write error: the stimulator's port did not take the command within ", 0), 0u)
        << LastDescription();
    quor::frmComm->Comm32().SetXONState(true);

    HoldOutputAfterThePrompt();
    VARIANT_BOOL accepted = 12345;
    EXPECT_EQ(p.SetChannelVoltage(1, 3, &accepted), E_UNEXPECTED);
    EXPECT_EQ(accepted, 12345);
    quor::frmComm->Comm32().SetXONState(true);

    ASSERT_EQ(p.Trigger(2), S_OK);
    ASSERT_TRUE(DeviceA().WaitForFrames(1, 3s));
    ASSERT_TRUE(DeviceA().WaitForIdle(3s));
    EXPECT_EQ(DeviceA().Frames(), std::vector<std::string>{"T2"});
}

// The stimulator holds the line (XOFF, a stalled adapter): the calls fail, and once the line
// is free again only the next command arrives.
TEST_F(LinkDetailsTest, CommandsWhileTheStimulatorHoldsTheLineFailAndNeverArrive) {
    quor::frmComm->Comm32().SetWriteTimeout(200);
    ASSERT_EQ(p.ClearParadigm(), S_OK);
    DeviceA().Reset();
    DeviceA().SetFault("hold");
    EXPECT_EQ(p.Trigger(1), E_UNEXPECTED);
    EXPECT_EQ(LastDescription().rfind("Write error: the stimulator's port did not take the command within ", 0), 0u)
        << LastDescription();
    VARIANT_BOOL accepted = 12345;
    EXPECT_EQ(p.SetChannelDelay(1, 0.025, &accepted), E_UNEXPECTED);
    DeviceA().SetFault("hold=off");
    ASSERT_EQ(p.Trigger(2), S_OK);
    ASSERT_TRUE(DeviceA().WaitForFrames(1, 3s));
    ASSERT_TRUE(DeviceA().WaitForIdle(3s));
    EXPECT_EQ(DeviceA().Frames(), std::vector<std::string>{"T2"});
}

// The stimulator holds the line for a while after every prompt byte, so that commands meet a
// held line at every stage. Whatever each call reports is true of the device: every command
// reported sent has arrived, and none reported failed has.
TEST_F(LinkDetailsTest, UnderOutputStallsWhatEachCallReportsIsTrueOfTheDevice) {
    quor::frmComm->Comm32().SetWriteTimeout(60);
    quor::frmComm->ReplyTimeout = 500ms;
    ASSERT_EQ(p.ClearParadigm(), S_OK);
    DeviceA().Reset();
    DeviceA().SetFault("stall=80");
    std::map<std::string, int> reportedSent;
    std::set<std::string> reportedFailed;
    int failures = 0;
    for (int i = 0; i < 40; ++i) {
        std::string frame;
        HRESULT result;
        if (i % 2 == 0) {
            const int channel = 1 + (i / 2) % 9;
            frame = "T" + std::to_string(channel);
            result = p.Trigger(channel);
        } else {
            const double delay = (i + 1) * 0.001;
            frame = "L1" + quor::EncodeDeviceNumber(delay) + "R";
            VARIANT_BOOL accepted = 0;
            result = p.SetChannelDelay(1, delay, &accepted);
        }
        if (result == S_OK) {
            ++reportedSent[frame];
        } else {
            EXPECT_EQ(LastDescription().rfind("Write error: ", 0), 0u) << LastDescription();
            reportedFailed.insert(frame);
            ++failures;
        }
    }
    DeviceA().SetFault("stall=off");
    ASSERT_TRUE(DeviceA().WaitForIdle(3s));
    std::map<std::string, int> arrived;
    for (const std::string& frame : DeviceA().Frames()) ++arrived[frame];
    for (const auto& [frame, count] : reportedSent) {
        EXPECT_EQ(arrived[frame], count) << frame << " was reported sent " << count << " times";
    }
    for (const std::string& frame : reportedFailed) {
        if (frame[0] == 'L') {
            EXPECT_EQ(arrived[frame], 0) << frame << " was reported failed but arrived";
        }
    }
    int arrivedTotal = 0;
    for (const auto& [frame, count] : arrived) arrivedTotal += count;
    EXPECT_EQ(arrivedTotal, 40 - failures);
    EXPECT_GT(failures, 0) << "the stalls never met a command";
}

TEST_F(LinkDetailsTest, DialoguesAndSendsLeaveTraceLines) {
    std::vector<std::string> lines;
    quor::SetTraceListenerForTesting([&](const std::string& line) { lines.push_back(line); });
    ASSERT_EQ(p.ClearParadigm(), S_OK);
    ASSERT_EQ(p.Trigger(3), S_OK);
    quor::SetTraceListenerForTesting(nullptr);
    EXPECT_EQ(lines, (std::vector<std::string>{"Dialogue:E", "Send:>0002ER", "Send:>0002T3"}));
}

TEST_F(LinkDetailsTest, LineErrorsAreLoggedAsSentEntries) {
    quor::frmComm->Log().Clear();
    quor::frmComm->Comm32Error(nullptr, 8);
    EXPECT_EQ(LogLines(), std::vector<std::string>{"> Comm32 Errors: Errors Number=8"});
}

TEST_F(LinkDetailsTest, TheReasonOfARefusal) {
    EXPECT_EQ(TfrmComm::ParseErrorResult("OK.12"), "");
    EXPECT_EQ(TfrmComm::ParseErrorResult("ER:Bad"), "Bad");
    EXPECT_EQ(TfrmComm::ParseErrorResult("ER"), "");
    EXPECT_EQ(TfrmComm::ParseErrorResult(""), "");
}

TEST_F(LinkDetailsTest, TheLongDialogueFormIsTheShortOne) {
    EXPECT_EQ(quor::frmComm->Dialogue("Y4", 99.0, 3, true, true), "OK.");
    EXPECT_EQ(DeviceA().Frames(), std::vector<std::string>{"Y4R"});
}

TEST_F(LinkDetailsTest, WaitHandlesInputWhileItWaits) {
    ASSERT_EQ(p.ClearParadigm(), S_OK);  // from now on the receive handler reads input
    quor::frmComm->Log().Clear();
    quor::frmComm->Wait(0);  // returns at once
    quor::frmComm->SendCommand("T1");
    quor::frmComm->Wait(0.2f);  // the device's "=" arrives and is read meanwhile
    const std::vector<std::string> lines = LogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "< ="), lines.end());
    EXPECT_EQ(quor::frmComm->Comm32().InQueCount(), 0);
}

#ifdef _WIN32
// A host that is closing has posted its quit request while a command waits: the request
// stays queued for the host's own loop, and the command still waits out its time limit
// (dialogue_bench prints what such a wait costs).
TEST_F(LinkDetailsTest, AQuitRequestOfTheHostStaysQueuedForTheHost) {
    quor::frmComm->ReplyTimeout = 300ms;
    DeviceA().SetFault("silence");
    PostQuitMessage(7);
    VARIANT_BOOL value = 12345;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(p.SetChannelDelay(1, 0.5, &value), S_OK);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(value, VARIANT_FALSE);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
}
#endif

}  // namespace
}  // namespace bench

// What reaches the stimulator for each member of the control object, which checks refuse
// a call before any traffic, and what the caller gets back.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <thread>
#include <utility>

#include "PulsynTestSupport.h"
#include "server/ErrorInfo.h"
#include "base/MainThread.h"

using namespace std::chrono_literals;
using quor::TPulsyn;
using Frames = std::vector<std::string>;

namespace bench {
namespace {

class CommandTest : public PulsynTest {
protected:
    void SetUp() override {
        PulsynTest::SetUp();
        ConnectTo(p);
    }
    // Runs `call` on the main thread while `command` waits for the device's reply, as a
    // window message or a second client call would arrive; gives the call's status and the
    // error description it left.
    static std::pair<HRESULT, std::string> CallDuring(const std::function<HRESULT()>& call,
                                                      const std::function<void()>& command) {
        HRESULT status = S_OK;
        std::string message;
        std::thread other([&] {
            quor::RunOnMainThread([&] {
                status = call();
                message = LastDescription();
            });
        });
        command();
        other.join();
        return {status, message};
    }

    TPulsyn p;
    VARIANT_BOOL value = 12345;
};

TEST_F(CommandTest, EachCommandReachesTheDeviceAsItsFrame) {
    EXPECT_EQ(p.ChangeParadigm(3), S_OK);
    EXPECT_EQ(p.ChangeParadigm(9), S_OK);
    EXPECT_EQ(p.ChangeChannelMode(2, cmTrain), S_OK);
    EXPECT_EQ(p.ChangeChannelMode(5, cmGate), S_OK);
    EXPECT_EQ(p.ChangeChannelMode(5, cmTwin), S_OK);
    EXPECT_EQ(p.ConnectChannel(9, 11), S_OK);
    EXPECT_EQ(p.ConnectChannel(3, 12), S_OK);
    EXPECT_EQ(p.DisconnectChannel(9, 10), S_OK);
    EXPECT_EQ(p.SetChannelShape(4, csRamp, &value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);
    EXPECT_EQ(p.ClearParadigm(), S_OK);
    EXPECT_EQ(p.Trigger(4), S_OK);
    ASSERT_TRUE(DeviceA().WaitForFrames(11, 3s));
    EXPECT_EQ(DeviceA().Frames(),
              (Frames{"Y3R", "Y9R", "MN2R", "MT5R", "MW5R", "X9BR", "X3CR", "Z9AR", "S4RR", "ER", "T4"}));
    EXPECT_TRUE(DeviceB().Frames().empty());
}

TEST_F(CommandTest, ValueSettersSendDeviceNumbersAndReportTheAcknowledgement) {
    EXPECT_EQ(p.SetChannelDelay(1, 0.025, &value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);
    value = 0;
    EXPECT_EQ(p.SetChannelDuration(3, 0.0004, &value), S_OK);
    EXPECT_EQ(p.SetChannelInterval(9, 1, &value), S_OK);
    EXPECT_EQ(p.SetChannelN(2, 100, &value), S_OK);
    EXPECT_EQ(p.SetChannelN(4, 12350, &value), S_OK);
    EXPECT_EQ(p.SetChannelVoltage(4, -2.5, &value), S_OK);
    EXPECT_EQ(p.SetChannelDeltaV(5, 0.05, &value), S_OK);
    EXPECT_EQ(p.SetChannelDuration(1, 0.000004, &value), S_OK);
    EXPECT_EQ(p.SetChannelInterval(1, 0.00004, &value), S_OK);
    EXPECT_EQ(p.SetChannelDelay(1, 0, &value), S_OK);
    EXPECT_EQ(p.SetChannelDelay(1, 3999, &value), S_OK);
    EXPECT_EQ(p.SetChannelN(1, -3, &value), S_OK);
    EXPECT_EQ(p.SetChannelN(1, 2147000000, &value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);
    EXPECT_EQ(DeviceA().Frames(),
              (Frames{"L1+25.00E-3R", "D3+400.0E-6R", "I9+1.000E+0R", "N2+100.0E+0R", "N4+12.35E+3R", "V4-2.500E+0R",
                      "J5+50.00E-3R", "D1+4.000E-6R", "I1+40.00E-6R", "L1+0.000E+0R", "L1+3.999E+3R", "N1-3.000E+0R",
                      "N1+2.147E+9R"}));
}

TEST_F(CommandTest, RefusedOrMissingAcknowledgementIsFalseWithSuccess) {
    DeviceA().SetLimit("voltage", 5);
    value = 12345;
    EXPECT_EQ(p.SetChannelVoltage(1, 7.5, &value), S_OK);
    EXPECT_EQ(value, VARIANT_FALSE);

    quor::frmComm->ReplyTimeout = 300ms;
    DeviceA().SetFault("silence");
    value = 12345;
    EXPECT_EQ(p.SetChannelShape(1, csBipolar, &value), S_OK);
    EXPECT_EQ(value, VARIANT_FALSE);
    EXPECT_EQ(p.SetChannelDelay(1, 0.5, &value), S_OK);
    EXPECT_EQ(value, VARIANT_FALSE);
    // Commands that ignore the answer succeed without one.
    EXPECT_EQ(p.ChangeParadigm(2), S_OK);
    EXPECT_EQ(DeviceA().Frames(), (Frames{"V1+7.500E+0R", "S1BR", "L1+500.0E-3R", "Y2R"}));
}

// A client that asks for it (the Python module) gets a failure instead of False when the reply
// never comes, and a wait its interrupt check stops fails at once; the link stays usable.
TEST_F(CommandTest, AMissingReplyOrAnInterruptedWaitFailsWhenTheClientAsksForIt) {
    p.SetMissingReplyFails(true);
    p.SetReplyTimeout(300ms);
    DeviceA().SetFault("silence");
    value = 12345;
    EXPECT_EQ(p.SetChannelDelay(1, 0.5, &value), E_UNEXPECTED);
    EXPECT_EQ(value, 12345);
    EXPECT_EQ(LastDescription(), "The stimulator did not answer \"L1+500.0E-3\" within 0.3 s: the command may or may "
                                 "not have taken effect. Check that the stimulator is switched on and its cable is "
                                 "plugged in.");
#ifndef _WIN32
    EXPECT_EQ(quor::LastErrorInfo().Kind, quor::TFailureKind::NoReply);
#endif

    p.SetReplyTimeout(10s);  // an interrupt that did not end the wait would cost these
    // A device that answers no prompt and missed a reply gets a quiet line before the next
    // command; an interrupt there sends nothing.
    quor::TfrmComm::SetInterruptCheck([] { return true; });
    EXPECT_EQ(p.ChangeParadigm(4), E_UNEXPECTED);
    quor::TfrmComm::SetInterruptCheck(nullptr);
    EXPECT_EQ(LastDescription(), "Interrupted while waiting for the line to fall quiet: nothing was sent.");
    DeviceA().Reset();
    EXPECT_EQ(p.ChangeParadigm(3), S_OK) << LastDescription();

    DeviceA().SetFault("silence");
    int asked = 0;
    quor::TfrmComm::SetInterruptCheck([&] { return ++asked > 0; });
    EXPECT_EQ(p.ChangeParadigm(4), E_UNEXPECTED);
    quor::TfrmComm::SetInterruptCheck(nullptr);
    EXPECT_EQ(LastDescription(), "Interrupted while waiting for the stimulator's reply to \"Y4\".");
#ifndef _WIN32
    EXPECT_EQ(quor::LastErrorInfo().Kind, quor::TFailureKind::Interrupted);
#endif

    ASSERT_TRUE(DeviceA().WaitForFrames(2, 3s));  // the interrupted command did go out
    DeviceA().Reset();
    EXPECT_EQ(p.SetChannelDelay(1, 0.25, &value), S_OK) << LastDescription();
    EXPECT_EQ(value, VARIANT_TRUE);
    EXPECT_EQ(DeviceA().Frames(), Frames{"L1+250.0E-3R"});
}

struct Refusal {
    const char* call;
    std::function<HRESULT(TPulsyn&, VARIANT_BOOL*)> run;
    const char* message;
};

TEST_F(CommandTest, BadArgumentsAreRefusedBeforeAnyTraffic) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const char* channel = "Channel Error: Channel Parameter must be between 1 and 9.";
    const std::vector<Refusal> refusals = {
        {"ChangeParadigm(0)", [](TPulsyn& p, VARIANT_BOOL*) { return p.ChangeParadigm(0); },
         "ChangeParadigm Error: ParadigmNumber Parameter must be between 1 and 9."},
        {"ChangeParadigm(10)", [](TPulsyn& p, VARIANT_BOOL*) { return p.ChangeParadigm(10); },
         "ChangeParadigm Error: ParadigmNumber Parameter must be between 1 and 9."},
        {"ChangeParadigm(-1)", [](TPulsyn& p, VARIANT_BOOL*) { return p.ChangeParadigm(-1); },
         "ChangeParadigm Error: ParadigmNumber Parameter must be between 1 and 9."},
        {"ChangeChannelMode(0, 7)", [](TPulsyn& p, VARIANT_BOOL*) { return p.ChangeChannelMode(0, ChannelModes(7)); },
         channel},
        {"ChangeChannelMode(1, 7)", [](TPulsyn& p, VARIANT_BOOL*) { return p.ChangeChannelMode(1, ChannelModes(7)); },
         "ChannelMode Error: Wrong Mode Parameter."},
        {"ChangeChannelMode(1, -1)", [](TPulsyn& p, VARIANT_BOOL*) { return p.ChangeChannelMode(1, ChannelModes(-1)); },
         "ChannelMode Error: Wrong Mode Parameter."},
        {"Trigger(10)", [](TPulsyn& p, VARIANT_BOOL*) { return p.Trigger(10); }, channel},
        {"Trigger(-2147483648)", [](TPulsyn& p, VARIANT_BOOL*) { return p.Trigger(INT32_MIN); }, channel},
        {"ConnectChannel(10, 3)", [](TPulsyn& p, VARIANT_BOOL*) { return p.ConnectChannel(10, 3); },
         "Error: First Parameter must be between 1 and 9."},
        {"ConnectChannel(3, 13)", [](TPulsyn& p, VARIANT_BOOL*) { return p.ConnectChannel(3, 13); },
         "Error: Second Parameter must be between 1 and 12."},
        {"ConnectChannel(3, 0)", [](TPulsyn& p, VARIANT_BOOL*) { return p.ConnectChannel(3, 0); },
         "Error: Second Parameter must be between 1 and 12."},
        {"ConnectChannel(4, 4)", [](TPulsyn& p, VARIANT_BOOL*) { return p.ConnectChannel(4, 4); },
         "Error: ConnectChannel cant Connect a channel to itself."},
        {"DisconnectChannel(-1, 2)", [](TPulsyn& p, VARIANT_BOOL*) { return p.DisconnectChannel(-1, 2); },
         "Error: First Parameter must be between 1 and 9."},
        {"DisconnectChannel(4, 4)", [](TPulsyn& p, VARIANT_BOOL*) { return p.DisconnectChannel(4, 4); },
         "Error: DisconnectChannel cant disconnect a channel from itself."},
        {"SetChannelShape(1, 3)", [](TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelShape(1, ChannelShapes(3), v); },
         "ChannelShape Error: Wrong Shape Parameter."},
        {"SetChannelShape(0, 3)", [](TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelShape(0, ChannelShapes(3), v); },
         channel},
        {"SetChannelDelay(0, -1)", [](TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelDelay(0, -1, v); }, channel},
        {"SetChannelDelay(1, -0.000001)", [](TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelDelay(1, -0.000001, v); },
         "Range Error: Delay Value must be between 0 and 3999s."},
        {"SetChannelDelay(1, 3999.0001)", [](TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelDelay(1, 3999.0001, v); },
         "Range Error: Delay Value must be between 0 and 3999s."},
        {"SetChannelDuration(1, 0.0000039)",
         [](TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelDuration(1, 0.0000039, v); },
         "Range Error: Duration Value must be between 4us and 3999s."},
        {"SetChannelInterval(1, 0.000039)",
         [](TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelInterval(1, 0.000039, v); },
         "Range Error: Interval Value must be between 40us and 3999s."},
        {"SetChannelN(10, 1)", [](TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelN(10, 1, v); }, channel},
        // Counts the four-digit device number would round: the device would fire another count.
        {"SetChannelN(1, 12345)", [](TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelN(1, 12345, v); },
         "Range Error: N Value 12345 has more than four significant digits, which the stimulator cannot take "
         "exactly: use 12340 or 12350."},
        {"SetChannelN(1, -100001)", [](TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelN(1, -100001, v); },
         "Range Error: N Value -100001 has more than four significant digits, which the stimulator cannot take "
         "exactly: use -100000 or -100100."},
        {"SetChannelN(1, 2147483647)", [](TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelN(1, 2147483647, v); },
         "Range Error: N Value 2147483647 has more than four significant digits, which the stimulator cannot take "
         "exactly: use 2147000000 (2148000000 is beyond the counts a call can pass)."},
        {"SetChannelN(1, -2147483648)",
         [](TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelN(1, -2147483647 - 1, v); },
         "Range Error: N Value -2147483648 has more than four significant digits, which the stimulator cannot "
         "take exactly: use -2147000000 (-2148000000 is beyond the counts a call can pass)."},
    };
    for (const Refusal& r : refusals) {
        value = 12345;
        EXPECT_EQ(r.run(p, &value), E_UNEXPECTED) << r.call;
        EXPECT_EQ(LastDescription(), r.message) << r.call;
        EXPECT_EQ(value, 12345) << r.call << ": an out-parameter is written only on success";
    }
    // Values the device cannot represent are refused too, with the value named.
    for (double bad : {nan, std::numeric_limits<double>::infinity(), 1e10, 2e-10}) {
        EXPECT_EQ(p.SetChannelVoltage(1, bad, &value), E_UNEXPECTED) << bad;
        EXPECT_NE(LastDescription().find("has no device number form"), std::string::npos) << LastDescription();
    }
    EXPECT_EQ(p.SetChannelDelay(1, nan, &value), E_UNEXPECTED);
    EXPECT_EQ(p.SetChannelDelay(1, 1e-10, &value), E_UNEXPECTED);
    EXPECT_EQ(value, 12345);
    ASSERT_TRUE(DeviceA().WaitForIdle(3s));
    EXPECT_TRUE(DeviceA().Frames().empty());
}

TEST_F(CommandTest, FailuresCarryTheSourceAndLeaveTheLinkUsable) {
    EXPECT_EQ(p.ChangeParadigm(0), E_UNEXPECTED);
    EXPECT_EQ(LastSource(), "QuorLib.Pulsyn");
    EXPECT_EQ(p.ChangeParadigm(4), S_OK);
    EXPECT_EQ(DeviceA().Frames(), Frames{"Y4R"});
}

TEST_F(CommandTest, CopyParadigmAsksTheDeviceForTheCurrentParadigmFirst) {
    ASSERT_EQ(p.ChangeParadigm(3), S_OK);
    EXPECT_EQ(p.CopyParadigm(5), S_OK);
    ASSERT_TRUE(DeviceA().WaitForFrames(3, 3s));
    EXPECT_EQ(DeviceA().Frames(), (Frames{"Y3R", "GPR", "C35"}));

    // A bad destination still costs one exchange; copying onto itself sends no copy.
    EXPECT_EQ(p.CopyParadigm(0), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), "CopyParadigm Error: Paradigm Parameter must be between 1 and 9.");
    EXPECT_EQ(p.CopyParadigm(3), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), "CopyParadigm Error: Cannot copy paradigm to itself.");
    ASSERT_TRUE(DeviceA().WaitForIdle(3s));
    EXPECT_EQ(DeviceA().Frames(), (Frames{"Y3R", "GPR", "C35", "GPR", "GPR"}));
}

TEST_F(CommandTest, CopyParadigmWithoutAUsableParadigmNumber) {
    quor::frmComm->ReplyTimeout = 300ms;
    DeviceA().SetFault("silence");
    EXPECT_EQ(p.CopyParadigm(0), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), "CopyParadigm Error: Cannot read current paradigm number.");

    DeviceA().Reset();
    DeviceA().SetFault("wrong-length=-1");  // the reply reads "OK." without its digit
    EXPECT_EQ(p.CopyParadigm(2), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), "'''' is not a valid integer value");
    ASSERT_TRUE(DeviceA().WaitForIdle(3s));
    EXPECT_EQ(DeviceA().Frames(), Frames{"GPR"});
}

TEST_F(CommandTest, ReplyFramesAreFoundAmongStrayBytesAndPieces) {
    DeviceA().SetFault("noise=xy#");
    EXPECT_EQ(p.SetChannelShape(1, csMonopolar, &value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);

    DeviceA().Reset();
    DeviceA().SetFault("split=2/15");
    value = 0;
    EXPECT_EQ(p.SetChannelShape(1, csMonopolar, &value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);

    // Four bytes of the header ("<000") are not read until the fifth has arrived: read
    // early, the length would be "000" plus whatever came next.
    DeviceA().Reset();
    DeviceA().SetFault("split=4/100");
    value = 0;
    EXPECT_EQ(p.SetChannelShape(1, csMonopolar, &value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);

    DeviceA().Reset();
    DeviceA().SetFault("bad-length=0000");  // an empty payload ends the dialogue at once
    EXPECT_EQ(p.SetChannelShape(1, csMonopolar, &value), S_OK);
    EXPECT_EQ(value, VARIANT_FALSE);

    DeviceA().Reset();
    DeviceA().SetFault("bad-length=0x03");
    EXPECT_EQ(p.SetChannelShape(1, csMonopolar, &value), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), "''0x03'' is not a valid integer value");

    // The failed dialogue cleaned up after itself: the next one works.
    DeviceA().Reset();
    EXPECT_EQ(p.SetChannelShape(2, csBipolar, &value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);
}

// A zero byte ends the text a read returns, but the log shows every byte that arrived: a
// stray zero byte alone, and a frame whose payload holds one.
TEST_F(CommandTest, TheLogShowsEveryReceivedByteAlsoAfterAZeroByte) {
    DeviceA().SetFault("noise=\\x00<0004O\\x00K.");
    quor::frmComm->Log().Clear();
    EXPECT_EQ(p.SetChannelShape(1, csMonopolar, &value), S_OK);
    const std::vector<std::string> lines = LogLines();
    // The stray zero byte comes alone or after the prompt's answer, as the bytes arrive.
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& line) { return line.size() > 2 && line.back() == '\0'; }),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), std::string("< O\0K.", 6)), lines.end());
}

TEST_F(CommandTest, OneExchangeShowsEachWriteAndReadInTheLog) {
    quor::frmComm->Log().Clear();
    ASSERT_EQ(p.ClearParadigm(), S_OK);
    // The device answers the prompt byte with "=", read and dropped before the frame.
    EXPECT_EQ(LogLines(), (Frames{"> =", "> >0002ER", "< =", "< <", "< 0003", "< OK."}));
    for (const quor::TTrafficEntry& entry : quor::frmComm->Log().Entries()) {
        const std::string& t = entry.Text;
        ASSERT_GE(t.size(), 20u);
        EXPECT_EQ(t.substr(0, 2), "\r\n");
        for (size_t i : {2, 3, 5, 6, 8, 9, 11, 12, 13}) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(t[i]))) << t;
        EXPECT_EQ(t.substr(14, 6), ":.....");
    }
}

TEST_F(CommandTest, InputBetweenDialoguesIsReadAndLoggedByTheReceiveHandler) {
    ASSERT_EQ(p.ClearParadigm(), S_OK);
    quor::frmComm->Log().Clear();
    ASSERT_EQ(p.Trigger(4), S_OK);  // the device answers the prompt byte, nobody waits for it
    EXPECT_TRUE(PumpUntil([] { return LogLines().size() >= 3; }, 3s));
    // The device's "=" may come back while the frame is still being logged: the log pumps
    // messages after each entry, so the handler reads it wherever it arrives.
    Frames lines = LogLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "> =");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "> >0002T4"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "< ="), lines.end());
    EXPECT_EQ(quor::frmComm->Comm32().InQueCount(), 0);
}

TEST_F(CommandTest, SendOldWaitsForTheDevicesPromptBeforeTheText) {
    quor::frmComm->SendOld(">0003Y7R");
    ASSERT_TRUE(PumpUntil([] { return quor::frmComm->SendBufferForTesting().empty(); }, 3s));
    ASSERT_TRUE(DeviceA().WaitForFrames(1, 3s));
    EXPECT_EQ(DeviceA().Frames(), Frames{"Y7R"});
    EXPECT_TRUE(quor::frmComm->CommState);
}

TEST_F(CommandTest, ACommandArrivingDuringADialogueIsRefusedAndTheFirstCompletes) {
    DeviceA().SetFault("delay=300");
    value = 0;
    const auto [nested, message] = CallDuring([&] { return p.ChangeParadigm(2); },
                                              [&] { EXPECT_EQ(p.SetChannelShape(1, csBipolar, &value), S_OK); });
    EXPECT_EQ(value, VARIANT_TRUE);
    EXPECT_EQ(nested, E_UNEXPECTED);
    EXPECT_EQ(message.substr(0, 13), "Cannot send \"") << message;
    const std::string rest = "\" while another command is waiting for the stimulator's reply: wait until that call "
                             "has returned.";
    EXPECT_EQ(message.substr(message.size() - std::min(message.size(), rest.size())), rest) << message;
    ASSERT_TRUE(DeviceA().WaitForIdle(3s));
    EXPECT_EQ(DeviceA().Frames(), Frames{"S1BR"});
}

// Another object's disconnect delivered while a dialogue waits succeeds at once; the dialogue
// completes, and the connection stays with the object that still holds it.
TEST_F(CommandTest, DisconnectingDuringADialogueTakesEffectWhenTheDialogueReturns) {
    quor::TPulsyn other;
    ASSERT_EQ(other.put_Connected(VARIANT_TRUE), S_OK);  // a second object, connected meanwhile
    DeviceA().Reset();
    DeviceA().SetFault("delay=300");
    value = 0;
    const std::weak_ptr<quor::TfrmComm> link = quor::frmComm;
    VARIANT_BOOL connectedInside = 12345;
    const auto [nested, message] = CallDuring(
        [&] {
            const HRESULT status = other.put_Connected(VARIANT_FALSE);
            other.get_Connected(&connectedInside);
            return status;
        },
        [&] { EXPECT_EQ(p.SetChannelShape(2, csRamp, &value), S_OK); });
    EXPECT_EQ(nested, S_OK) << message;
    EXPECT_EQ(connectedInside, VARIANT_FALSE);
    EXPECT_EQ(value, VARIANT_TRUE);  // the device's answer, read after the disconnect
    VARIANT_BOOL connected = 0;
    ASSERT_EQ(p.get_Connected(&connected), S_OK);
    EXPECT_EQ(connected, VARIANT_TRUE);
    EXPECT_EQ(quor::frmComm, link.lock());
    EXPECT_EQ(DeviceA().Frames(), Frames{"S2RR"});
}

}  // namespace
}  // namespace bench

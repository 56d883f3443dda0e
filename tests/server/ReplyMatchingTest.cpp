// Every result a call reports is the device's answer to that call's command, never an
// answer left over from an earlier one: a reply that came after its dialogue gave up, or an
// answer to a command that expects none.
#include <algorithm>
#include <chrono>
#include <random>

#include "PulsynTestSupport.h"

using namespace std::chrono_literals;
using quor::TPulsyn;

namespace bench {
namespace {

class ReplyMatchingTest : public PulsynTest {
protected:
    void SetUp() override {
        PulsynTest::SetUp();
        ConnectTo(p);
        quor::frmComm->ReplyTimeout = kReplyTimeout;
        DeviceA().SetLimit("voltage", 5);  // 7.5 V is refused with "ER:", 3 V accepted
    }
    bool Voltage(double volts) {
        VARIANT_BOOL accepted = 12345;
        EXPECT_EQ(p.SetChannelVoltage(1, volts, &accepted), S_OK) << LastDescription();
        return accepted == VARIANT_TRUE;
    }
    // A voltage the device accepts only after its dialogue stopped waiting, then commands
    // whose results must be their own replies, not that late one.
    void ExpectALateReplyNotTakenForTheNextCommand() {
        DeviceA().SetFault("delay=450");
        EXPECT_FALSE(Voltage(3));  // accepted, but only after the dialogue stopped waiting
        DeviceA().SetFault("delay=off");
        EXPECT_FALSE(Voltage(7.5));  // its late "OK." must not count for this one
        EXPECT_TRUE(Voltage(3));
        EXPECT_FALSE(Voltage(7.5));
    }
    static constexpr std::chrono::milliseconds kReplyTimeout{300};
    TPulsyn p;
};

TEST_F(ReplyMatchingTest, AReplyThatArrivesAfterItsDialogueGaveUpIsNotTheNextCommandsReply) {
    ExpectALateReplyNotTakenForTheNextCommand();
}

TEST_F(ReplyMatchingTest, AnAnswerToACommandThatExpectsNoneIsNotTheNextCommandsReply) {
    DeviceA().SetFault("answer-all");
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(p.Trigger(1), S_OK);
        EXPECT_FALSE(Voltage(7.5)) << "after trigger " << i;
        ASSERT_EQ(p.CopyParadigm(2 + i % 8), S_OK) << LastDescription();
        EXPECT_FALSE(Voltage(7.5)) << "after copy " << i;
        ASSERT_EQ(p.Trigger(2), S_OK);
        EXPECT_TRUE(Voltage(3)) << "after trigger " << i;
    }
}

// A device that does not answer the prompt byte gives nothing to tell a late reply by: after
// a dialogue that ran out of time, the line is let fall quiet before the next command, and
// what arrives meanwhile is logged and dropped.
TEST_F(ReplyMatchingTest, ALateReplyFromADeviceThatDoesNotAnswerPromptsIsNotTheNextCommandsReply) {
    DeviceA().SetFault("no-echo");
    ExpectALateReplyNotTakenForTheNextCommand();
    const std::vector<std::string> lines = LogLines();
    const auto oks = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("< ", 0) == 0 && line.find("OK.") != std::string::npos;
    });
    EXPECT_EQ(oks, 2) << "the late reply was not logged";
}

// A device that begins or stops answering the prompt byte (other firmware, another device
// on the port): the next accepted command reads as accepted, without waiting out its limit.
TEST_F(ReplyMatchingTest, ADeviceThatBeginsToAnswerPromptsIsBelievedAtOnce) {
    DeviceA().SetFault("no-echo");
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(Voltage(3)) << i;
    DeviceA().SetFault("echo=on");
    EXPECT_TRUE(Voltage(3));
    EXPECT_FALSE(Voltage(7.5));
    EXPECT_TRUE(Voltage(3));
}

TEST_F(ReplyMatchingTest, ADeviceThatStopsAnsweringPromptsIsBelievedAtOnce) {
    EXPECT_TRUE(Voltage(3));
    DeviceA().SetFault("no-echo");
    EXPECT_TRUE(Voltage(3));
    EXPECT_FALSE(Voltage(7.5));
    EXPECT_TRUE(Voltage(3));
    DeviceA().SetFault("echo=on");
    EXPECT_TRUE(Voltage(3));
}

// Replies delayed at random around the time limit: a call that got an answer in time
// reports that answer, and a call whose answer came too late reports no acceptance.
TEST_F(ReplyMatchingTest, RepliesDelayedAroundTheTimeLimitAreNeverMisattributed) {
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> delayMs(200, 400);
    int wrong = 0, late = 0;
    for (int i = 0; i < 40; ++i) {
        DeviceA().SetFault("delay=" + std::to_string(delayMs(random)));
        const bool valid = random() % 2 == 0;
        const auto start = std::chrono::steady_clock::now();
        const bool accepted = Voltage(valid ? 3 : 7.5);
        const bool timedOut = std::chrono::steady_clock::now() - start >= kReplyTimeout;
        late += timedOut;
        if (accepted ? !valid : valid && !timedOut) ++wrong;
    }
    EXPECT_EQ(wrong, 0) << late << " of 40 calls ran out of time";
}

}  // namespace
}  // namespace bench

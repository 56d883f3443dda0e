// The device link on a bare line whose far end the test plays: what reaches the device when
// writes fail or run out of time, what the log keeps of input read before a dialogue, and a
// link let go of inside its own receive handler.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "SerialLine.h"
#include "base/MainThread.h"
#include "link/CommUnit.h"

using namespace std::chrono_literals;

namespace monitor_test {
namespace {

// The time a write error says the call waited ("... within 203 ms ...").
std::string WaitedText(const std::string& message) {
    const size_t at = message.find(" within ") + 8;
    return message.substr(at, message.find(' ', at) - at);
}

class LinkWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        link = std::make_shared<quor::TfrmComm>();
        link->Comm32().SetDeviceName(line.PortName());
        link->Comm32().SetWriteTimeout(200);
        link->Comm32().Open();
    }
    void TearDown() override {
        quor::TfrmComm::SetPumpHookForTesting({});
        quor::TfrmComm::SetInterruptCheck({});
    }

    // Stops the line's output at the next point where the link lets messages run: right
    // after a prompt byte went out, as when the device's adapter stalls or sends XOFF then.
    void HoldOutputAfterThePrompt() {
        hold = true;
        quor::TfrmComm::SetPumpHookForTesting([this] {
            if (!hold) return;
            hold = false;
            link->Comm32().SetXONState(false);
        });
    }
    // The far end answers `reply` once the link has logged `frame` as sent: the device
    // answering a dialogue's command while the link waits.
    void AnswerAfter(const std::string& frame, const std::string& reply) {
        quor::TfrmComm::SetPumpHookForTesting([this, frame, reply, answered = false]() mutable {
            if (answered || link->Log().Entries().empty()) return;
            const quor::TTrafficEntry last = link->Log().Entries().back();
            if (!last.Sent || last.Text.size() < frame.size() ||
                last.Text.compare(last.Text.size() - frame.size(), frame.size(), frame) != 0) {
                return;
            }
            answered = true;
            line.Send(reply);
        });
    }
    // What the far end receives until the text ends with `last` (or 5 s passed).
    std::string ReceiveThrough(const std::string& last) {
        std::string got;
        while (got.size() < last.size() || got.compare(got.size() - last.size(), last.size(), last) != 0) {
            const std::string byte = line.Receive(1);
            if (byte.empty()) break;
            got += byte;
        }
        return got;
    }
    static std::vector<std::string> LogTexts(quor::TfrmComm& link, bool sent) {
        std::vector<std::string> texts;
        for (const quor::TTrafficEntry& entry : link.Log().Entries())
            if (entry.Sent == sent) texts.push_back(entry.Text.substr(entry.Text.find(":.....") + 6));
        return texts;
    }

    SerialLine line;
    std::shared_ptr<quor::TfrmComm> link;
    bool hold = false;
};

// The message gives the time the call waited: the limit at least, never more than passed.
TEST_F(LinkWriteTest, ACommandTheLineDoesNotTakeInTimeFailsWithTheWriteError) {
    link->Comm32().SetXONState(false);  // output held, as after the far end's XOFF
    const auto started = std::chrono::steady_clock::now();
    try {
        link->SendCommand("T1");
        FAIL() << "the held command was reported as sent";
    } catch (const quor::ECommError& e) {
        const auto passed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        EXPECT_EQ(e.ErrorCode, quor::kCommTimeoutError);
        std::smatch parts;
        const std::string message = e.what();
        ASSERT_TRUE(std::regex_match(message, parts,
                                     std::regex("Write error: the stimulator's port did not take the command within "
                                                "([0-9]+) ms \\(Error: " + std::to_string(quor::kCommTimeoutError) + "\\) ")))
            << message;
        EXPECT_GE(std::stoll(parts[1]), 200) << message;
        EXPECT_LE(std::stoll(parts[1]), passed.count()) << message;
    }
    // Released, the line carries the next command.
    link->Comm32().SetXONState(true);
    link->SendCommand("T2");
    EXPECT_EQ(line.Receive(8), "=>0002T2");
}

// A trigger reported as failed must never fire later, when the line carries the next one.
TEST_F(LinkWriteTest, ACommandThatFailedAfterItsPromptWentOutNeverReachesTheDeviceLater) {
    HoldOutputAfterThePrompt();
    EXPECT_THROW(link->SendCommand("T1"), quor::ECommError);
    EXPECT_TRUE(link->SendBufferForTesting().empty());
    link->Comm32().SetXONState(true);
    link->SendCommand("T2");
    const std::string got = ReceiveThrough(">0002T2");
    EXPECT_EQ(got.find("T1"), std::string::npos) << got;
    EXPECT_EQ(got.substr(got.size() - 8), "=>0002T2") << got;

    // The same for a dialogue whose frame the line does not take.
    HoldOutputAfterThePrompt();
    EXPECT_THROW(link->Dialogue("Y3"), quor::ECommError);
    EXPECT_TRUE(link->SendBufferForTesting().empty());
    link->Comm32().SetXONState(true);
    link->SendCommand("T3");
    const std::string next = ReceiveThrough(">0002T3");
    EXPECT_EQ(next.find("Y3"), std::string::npos) << next;
}

// The device answers every prompt byte with "=" before its reply frame, and a frame that
// comes while an earlier prompt is unanswered belongs to an earlier command. A command that
// failed after its prompt went out may never have its prompt answered: that prompt is no
// longer waited for, so the next reply, which follows its own prompt's answer, is taken.
TEST_F(LinkWriteTest, APromptOfAFailedCommandIsNotWaitedFor) {
    link->ReplyTimeout = 3s;
    HoldOutputAfterThePrompt();
    EXPECT_THROW(link->SendCommand("T1"), quor::ECommError);
    link->Comm32().SetXONState(true);
    AnswerAfter(">0003Y3R", "=<0003OK.");
    EXPECT_EQ(link->Dialogue("Y3"), "OK.");
}

// An interrupt while a dialogue lets the line fall quiet comes before anything of its command
// went out: the prompts still awaited stay awaited. Here a trigger's prompt is answered late,
// followed by the trigger's own answer (as some firmware gives), and only then the command's.
TEST_F(LinkWriteTest, AnInterruptWhileTheLineFallsQuietLeavesThePromptsAwaited) {
    link->QuietTime = 20ms;
    link->ReplyTimeout = 100ms;
    EXPECT_EQ(link->Dialogue("Y1"), "");  // a silent device: its reply may still come
    link->SendCommand("T1");             // its prompt not yet answered
    quor::TfrmComm::SetInterruptCheck([] { return true; });
    try {
        link->Dialogue("Y2");
        ADD_FAILURE() << "the interrupt was not seen";
    } catch (const quor::Exception& e) {
        EXPECT_EQ(e.Message(), "Interrupted while waiting for the line to fall quiet: nothing was sent.");
    }
    quor::TfrmComm::SetInterruptCheck(nullptr);
    link->ReplyTimeout = 3s;
    AnswerAfter(">0003Y3R", "=<0003T1.=<0003OK.");
    EXPECT_EQ(link->Dialogue("Y3"), "OK.");
    EXPECT_EQ(ReceiveThrough(">0003Y3R").find("Y2"), std::string::npos);
}

// After a dialogue ran out of time, the next first lets the line fall quiet, so that the
// late reply is not taken for its own. A line that keeps talking brings no late reply: that
// wait ends after three quiet times, however long a reply may take, and the command goes out
// while the far end still talks.
TEST_F(LinkWriteTest, ALineThatKeepsTalkingHoldsTheNextDialogueForThreeQuietTimesAtMost) {
    link->QuietTime = 200ms;
    link->ReplyTimeout = 100ms;
    EXPECT_EQ(link->Dialogue("Y1"), "");
    link->ReplyTimeout = 1h;
    // A byte every few milliseconds, far more often than the quiet time; for 20 s at most,
    // only so that a failure cannot hang.
    const auto stopTalking = std::chrono::steady_clock::now() + 20s;
    auto nextByte = std::chrono::steady_clock::now();
    bool answered = false, gaveUp = false;
    quor::TfrmComm::SetPumpHookForTesting([&] {
        const auto now = std::chrono::steady_clock::now();
        const quor::TTrafficEntry last = link->Log().Entries().back();
        if (!answered && last.Sent && last.Text.find(">0003Y2R") != std::string::npos) {
            answered = true;
            line.Send("=<0003OK.");
        } else if (!answered && !gaveUp && now >= nextByte) {
            gaveUp = now > stopTalking;
            if (!gaveUp) line.Send("~");
            nextByte = now + 5ms;
        }
    });
    EXPECT_EQ(link->Dialogue("Y2"), "OK.");
    EXPECT_FALSE(gaveUp) << "the command waited until the line fell silent";
}

// A text held for the device's prompt whose own prompt never went out is dropped: the
// device's next "=" must not release it.
TEST_F(LinkWriteTest, ATextHeldForThePromptIsDroppedWhenItsPromptFails) {
    link->Comm32().SetXONState(false);
    EXPECT_THROW(link->SendOld(">0002T1"), quor::ECommError);
    EXPECT_TRUE(link->SendBufferForTesting().empty());
    link->Comm32().SetXONState(true);
    line.Send("=");  // the device's prompt
    ASSERT_TRUE([&] {
        for (const auto deadline = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < deadline;) {
            quor::ProcessMessages();
            if (link->CommState) return true;
            quor::WaitForMessages(50ms);
        }
        return false;
    }()) << "the device's prompt was not seen";
    link->SendCommand("T2");
    const std::string got = ReceiveThrough(">0002T2");
    EXPECT_EQ(got.find("T1"), std::string::npos) << got;
}

// A far end that stops reading in the middle of a long frame: part of it has gone out and
// cannot be called back. The call says so, and the next command starts afresh with its own
// prompt byte, nothing of the old frame sent again.
TEST_F(LinkWriteTest, AWriteThatRunsOutOfTimePartWaySaysTheCommandMayHaveArrivedIncomplete) {
    const std::string command(200000, 'L');
    const std::string frame = ">" + std::to_string(command.size()) + command;
    try {
        link->SendCommand(command);
        FAIL() << "a frame the line did not take was reported as sent";
    } catch (const quor::ECommError& e) {
        const std::string message = e.what();
        EXPECT_EQ(e.ErrorCode, quor::kCommTimeoutError);
        const std::string start = "Write error: the stimulator's port took only ";
        ASSERT_EQ(message.rfind(start, 0), 0u) << message;
        const std::string moved = message.substr(start.size(), message.find(' ', start.size()) - start.size());
        EXPECT_GT(std::stoi(moved), 0) << message;
        EXPECT_LT(std::stoul(moved), frame.size()) << message;
        EXPECT_EQ(message, start + moved + " of the command's " + std::to_string(frame.size()) + " bytes within " +
                               WaitedText(message) +
                               " ms, so the command may have reached the stimulator incomplete; the rest was discarded. "
                               "Check the stimulator before sending the command again (Error: " +
                               std::to_string(quor::kCommTimeoutError) + ") ");
        EXPECT_GE(std::stoi(WaitedText(message)), 200) << message;
    }
    EXPECT_TRUE(link->SendBufferForTesting().empty());

    link->SendCommand("T2");
    const std::string got = ReceiveThrough("=>0002T2");
    ASSERT_GE(got.size(), 8u);
    const std::string before = got.substr(0, got.size() - 8);
    EXPECT_EQ(got.substr(got.size() - 8), "=>0002T2");
    EXPECT_LT(before.size(), 1 + frame.size());
    EXPECT_EQ(before, ("=" + frame).substr(0, before.size())) << "something other than the old frame's start came first";
}

// Input that lay queued before a dialogue is read by the dialogue's drain: it is logged as
// received, in one entry, before the dialogue's prompt.
TEST_F(LinkWriteTest, InputDrainedBeforeADialogueIsLogged) {
    link->ReplyTimeout = 100ms;  // the far end does not answer
    link->SendCommand("T1");     // before the first dialogue the receive handler leaves input alone
    line.Receive(8);
    line.Send("#junk=");
    for (const auto deadline = std::chrono::steady_clock::now() + 5s;
         link->Comm32().InQueCount() < 6 && std::chrono::steady_clock::now() < deadline;) {
        quor::WaitForMessages(5ms);  // only waits: nothing is read while the bytes arrive
    }
    ASSERT_EQ(link->Comm32().InQueCount(), 6);
    link->Log().Clear();
    EXPECT_EQ(link->Dialogue("E"), "");
    const std::vector<std::string> received = LogTexts(*link, false);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.front(), "#junk=");
    const auto entries = link->Log().Entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_FALSE((*entries.begin()).Sent) << "the drained input was not logged before the prompt";
}

// A client call that lets go of the link (a disconnect from a button handler) can arrive
// while the receive handler logs the device's prompt. The handler must finish on a link
// that is still there: the text held for the prompt goes out, and nothing is touched after.
TEST_F(LinkWriteTest, ALinkLetGoOfInsideItsPromptHandlerFinishesTheHandlerFirst) {
    link->SendOld(">0002T1");
    ASSERT_EQ(line.Receive(1), "=");
    std::weak_ptr<quor::TfrmComm> watched = link;
    quor::TfrmComm::SetPumpHookForTesting([this] {
        if (!link || link->Log().Entries().empty()) return;
        if (!link->Log().Entries().back().Sent) link.reset();  // the prompt is being logged
    });
    line.Send("=");
    for (const auto deadline = std::chrono::steady_clock::now() + 5s;
         !watched.expired() && std::chrono::steady_clock::now() < deadline;) {
        quor::ProcessMessages();
        quor::WaitForMessages(50ms);
    }
    EXPECT_TRUE(watched.expired());
    EXPECT_EQ(line.Receive(7), ">0002T1");
}

}  // namespace
}  // namespace monitor_test

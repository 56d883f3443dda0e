// The device link on a bare line whose far end the test plays: what reaches the device when
// writes fail or run out of time, what the log keeps of input read before a dialogue, and a
// link let go of inside its own receive handler.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "SerialLine.h"
#include "base/MainThread.h"
#include "link/CommUnit.h"

using namespace std::chrono_literals;

namespace monitor_test {
namespace {

class LinkWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        link = std::make_shared<quor::TfrmComm>();
        link->Comm32().SetDeviceName(line.PortName());
        link->Comm32().SetWriteTimeout(200);
        link->Comm32().Open();
    }
    void TearDown() override { quor::TfrmComm::SetPumpHookForTesting({}); }

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

TEST_F(LinkWriteTest, ACommandTheLineDoesNotTakeInTimeFailsWithTheWriteError) {
    link->Comm32().SetXONState(false);  // output held, as after the far end's XOFF
    try {
        link->SendCommand("T1");
        FAIL() << "the held command was reported as sent";
    } catch (const quor::ECommError& e) {
        EXPECT_EQ(e.ErrorCode, quor::kCommTimeoutError);
        EXPECT_EQ(std::string(e.what()), "Write error: the stimulator's port did not take the command within 200 ms (Error: " +
                                             std::to_string(quor::kCommTimeoutError) + ") ");
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
        EXPECT_EQ(message, start + moved + " of the command's " + std::to_string(frame.size()) +
#ifdef _WIN32
                               " bytes within 200 ms, so the command may have reached the stimulator incomplete; the rest "
                               "was discarded. Check the stimulator before sending the command again (Error: 1460) ");
#else
                               " bytes within 200 ms, so the command may have reached the stimulator incomplete; the rest "
                               "was discarded. Check the stimulator before sending the command again (Error: 110) ");
#endif
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

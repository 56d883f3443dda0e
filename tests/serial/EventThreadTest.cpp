// Line events: from the driver through the event thread to the handlers on the main thread,
// and the races between the thread and Close.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "SerialLine.h"
#include "SerialTestSupport.h"

using namespace quor;
using namespace std::chrono_literals;

namespace {

class Events : public ::testing::Test {
protected:
    void SetUp() override {
        ProcessMessages();
        comm->SetDeviceName(line.PortName());
        comm->SetFlowControl(fcNone);
        comm->SetMonitorEvents(1 << evRxChar | 1 << evError);
        comm->SetOnRxChar([this](TCustomComm* sender, int32_t count) {
            EXPECT_TRUE(IsMainThread());
            EXPECT_EQ(sender, comm.get());
            char buf[256];
            received += std::string(buf, static_cast<size_t>(sender->Read(buf, std::min<int32_t>(count, 256))));
            ++calls;
        });
    }
    void TearDown() override {
        if (comm) comm->Close();
        ExpectEventThreadsEnd();
        ProcessMessages();
    }
    // Waits until the event thread has queued a notification for the main thread.
    void AwaitQueuedNotification() {
        ASSERT_TRUE(WaitForMessages(5s));
        ASSERT_EQ(PendingHandoffs(), 1);
    }
    SerialLine line;
    std::unique_ptr<TestComm> comm = std::make_unique<TestComm>();
    std::string received;
    int calls = 0;
};

}  // namespace

TEST(EventMask, FollowsTheMonitoredEvents) {
    EXPECT_EQ(comm::DriverMask(kAllCommEvents), 0x1FFu);
    EXPECT_EQ(comm::DriverMask(1 << evRxChar | 1 << evError), 0x81u);
    EXPECT_EQ(comm::DriverMask(1 << evBreak | 1 << evTxEmpty), 0x44u);
}

TEST_F(Events, ReceivedDataReachesOnRxCharOnTheMainThreadWhenItProcessesMessages) {
    comm->Open();
    line.Send("hello");
    AwaitQueuedNotification();  // the arrival woke the main thread...
    EXPECT_EQ(calls, 0);       // ...but nothing runs until it processes messages
    EXPECT_TRUE(PumpUntil([&] { return received == "hello"; }));
    line.Send("again");
    EXPECT_TRUE(PumpUntil([&] { return received == "helloagain"; }));
}

// Input left queued after a partial read is old news, but what arrives next is new, even
// though the queue then holds fewer bytes than when it was last reported. (Several rounds:
// the first arrival may wake the thread more than once.)
TEST_F(Events, InputThatArrivesAfterAPartialReadIsReported) {
    int32_t lastCount = 0;
    comm->SetOnRxChar([&](TCustomComm*, int32_t count) {
        lastCount = count;
        ++calls;
    });
    comm->Open();
    line.Send("0123456789");
    ASSERT_TRUE(PumpUntil([&] { return lastCount == 10; }));
    int32_t queued = 10;
    for (const char* next : {"X", "Y", "Z"}) {
        char buf[4];
        ASSERT_EQ(comm->Read(buf, 4), 4);
        queued -= 4 - 1;
        const int before = calls;
        line.Send(next);
        ASSERT_TRUE(PumpUntil([&] { return calls > before && lastCount == queued; }))
            << "no notification of " << next << " after a partial read";
    }
}

TEST_F(Events, AllEventsMonitoredStillDeliverInput) {
    comm->SetMonitorEvents(kAllCommEvents);
    comm->Open();
    int txEmpty = 0;
    comm->SetOnTxEmpty([&](TCustomComm*) { ++txEmpty; });
    EXPECT_EQ(comm->Write("out", 3), 3);
    EXPECT_EQ(line.Receive(3), "out");
    EXPECT_TRUE(PumpUntil([&] { return txEmpty > 0; }));
    line.Send("in");
    EXPECT_TRUE(PumpUntil([&] { return received == "in"; }));
}

// A driver without modem lines (a pseudo-terminal under Wine: QUOR_TEST_NO_MODEM_LINES=1)
// refuses DTR and RTS and cannot wait for line events: the port is used without them, and
// its arrivals and drained writes are still reported. Every other line raises them.
TEST_F(Events, ALineWithoutModemLinesIsUsedWithoutThem) {
    const char* none = std::getenv("QUOR_TEST_NO_MODEM_LINES");
    comm->SetMonitorEvents(kAllCommEvents);
    int txEmpty = 0;
    comm->SetOnTxEmpty([&](TCustomComm*) { ++txEmpty; });
    comm->Open();
    comm->SetDTRState(true);
    comm->SetRTSState(false);
    EXPECT_EQ(comm->WithoutModemLines(), none != nullptr && std::string(none) == "1");
    EXPECT_EQ(comm->Write("out", 3), 3);
    EXPECT_EQ(line.Receive(3), "out");
    EXPECT_TRUE(PumpUntil([&] { return txEmpty > 0; }));
    for (const char* text : {"in", "more"}) {
        received.clear();
        line.Send(text);
        EXPECT_TRUE(PumpUntil([&] { return received == text; }));
    }
    // Any other refusal stays an error: a function no driver knows.
    const std::string refused = CommErrorOf([&] { comm->EscapeLine(0xFF); });
    EXPECT_EQ(refused.rfind("EscapeCommFunction failure (Error: ", 0), 0u) << refused;
    comm->Close();
    comm->Open();
    EXPECT_FALSE(comm->WithoutModemLines());  // until the new opening's driver refuses them
}

TEST_F(Events, CloseWhileANotificationIsQueuedDropsIt) {
    comm->Open();
    line.Send("late");
    AwaitQueuedNotification();
    comm->Close();
    ProcessMessages();
    EXPECT_EQ(calls, 0);
    ExpectEventThreadsEnd();
}

TEST_F(Events, DestroyingTheComponentWithANotificationQueuedIsSafe) {
    comm->Open();
    line.Send("late");
    AwaitQueuedNotification();
    comm.reset();
    ProcessMessages();
    EXPECT_EQ(calls, 0);
    ExpectEventThreadsEnd();
}

TEST_F(Events, CloseRightAfterOpenAndOpenAgainAtOnce) {
    for (int i = 0; i < 50; ++i) {
        comm->Open();
        comm->Close();
    }
    comm->Open();
    comm->Close();
    comm->Open();  // the same handle value may come back: the old threads must not use it
    line.Send("fresh");
    EXPECT_TRUE(PumpUntil([&] { return received == "fresh"; }));
    EXPECT_EQ(calls, 1);
    comm->Close();
    ExpectEventThreadsEnd();
}

TEST_F(Events, CloseFromInsideAHandler) {
    comm->SetOnRxChar([this](TCustomComm* sender, int32_t) {
        ++calls;
        sender->Close();
    });
    comm->Open();
    line.Send("x");
    EXPECT_TRUE(PumpUntil([&] { return calls == 1; }));
    EXPECT_FALSE(comm->Enabled());
    ExpectEventThreadsEnd();
}

TEST_F(Events, AHandlerThatRaisesEndsDeliveryUntilTheNextOpen) {
    comm->SetOnRxChar([this](TCustomComm* sender, int32_t count) {
        char buf[64];
        sender->Read(buf, std::min<int32_t>(count, 64));
        ++calls;
        throw std::runtime_error("handler fails");
    });
    comm->Open();
    line.Send("1");
    EXPECT_TRUE(PumpUntil([&] { return calls == 1; }));  // the exception does not reach the pump
    ExpectEventThreadsEnd();
    line.Send("2");
    EXPECT_FALSE(WaitForMessages(200ms));
    ProcessMessages();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(comm->Enabled());  // the port itself stays usable
    EXPECT_EQ(comm->InQueCount(), 1);
    comm->Close();
    comm->Open();
    line.Send("3");
    EXPECT_TRUE(PumpUntil([&] { return calls == 2; }));
}

TEST_F(Events, MasksWaitInTheQueueWhileTheMainThreadIsBusy) {
    comm->Open();
    line.Send("a");
    AwaitQueuedNotification();
    line.Send("b");  // the event thread is blocked handing over the first mask
    EXPECT_EQ(PendingHandoffs(), 1);
    EXPECT_TRUE(PumpUntil([&] { return received == "ab"; }));
}

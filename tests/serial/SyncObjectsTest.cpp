// The event and lock objects, and the hand-off of work to the main thread.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "SerialTestSupport.h"
#include "serial/CommObjs.h"

using namespace quor;
using namespace std::chrono_literals;

TEST(SimpleEvent, StaysSignalledUntilReset) {
    TSimpleEvent event;
    EXPECT_EQ(event.WaitFor(0), wrTimeout);
    event.SetEvent();
    EXPECT_EQ(event.WaitFor(0), wrSignaled);
    EXPECT_EQ(event.WaitFor(0), wrSignaled);
    event.ResetEvent();
    EXPECT_EQ(event.WaitFor(0), wrTimeout);
    EXPECT_EQ(event.WaitFor(10), wrTimeout);
    EXPECT_EQ(event.Error(), 0);
}

TEST(SimpleEvent, WakesAWaiterOnAnotherThread) {
    TSimpleEvent event;
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = event.WaitFor(INFINITE_WAIT); });
    event.SetEvent();
    waiter.join();
    EXPECT_EQ(result.load(), wrSignaled);
}

TEST(Event, AutoResetReleasesOneWaitOnly) {
    TEvent event(nullptr, false, true, "");
    EXPECT_EQ(event.WaitFor(0), wrSignaled);
    EXPECT_EQ(event.WaitFor(0), wrTimeout);
}

namespace {
// An event whose creation failed: its handle is what the system leaves then.
class BrokenEvent : public TEvent {
public:
    BrokenEvent() : TEvent(nullptr, true, false, "") { Swap(); }
    ~BrokenEvent() override { Swap(); }
    void Swap() {
        const THandle held = FHandle.Release();
        FHandle.Reset(kept);
        kept = held;
    }
    THandle kept = kNoEventHandle;
};
}  // namespace

TEST(Event, WaitOnAnInvalidHandleReportsTheSystemError) {
    BrokenEvent event;
    EXPECT_EQ(event.WaitFor(0), wrError);
    EXPECT_EQ(event.Error(), kInvalidHandleError);
    event.SetEvent();  // fails silently
    event.ResetEvent();
    event.Swap();  // a valid handle again: a time-out leaves Error as it was
    EXPECT_EQ(event.WaitFor(0), wrTimeout);
    EXPECT_EQ(event.Error(), kInvalidHandleError);
    event.Swap();
}

TEST(CriticalSection, ItsHolderMayEnterAgainAndOthersWaitForTheLastLeave) {
    TCriticalSection lock;
    lock.Enter();
    lock.Enter();
    TSimpleEvent entered;
    std::thread other([&] {
        lock.Acquire();
        entered.SetEvent();
        lock.Release();
    });
    lock.Leave();
    EXPECT_EQ(entered.WaitFor(50), wrTimeout);  // still held once
    lock.Leave();
    EXPECT_EQ(entered.WaitFor(5000), wrSignaled);
    other.join();
}

TEST(MainThreadHandoff, RunsOnTheMainThreadInOrderOnlyWhileItProcessesMessages) {
    ProcessMessages();  // binds this thread as the main thread
    std::vector<int> ran;
    std::atomic<int> returned{0};
    std::vector<std::thread> workers;
    TSimpleEvent firstQueued;
    workers.emplace_back([&] {
        RunOnMainThread([&] { EXPECT_TRUE(IsMainThread()); ran.push_back(1); });
        ++returned;
    });
    ASSERT_TRUE(WaitForMessages(5s));
    workers.emplace_back([&] {
        RunOnMainThread([&] { ran.push_back(2); });
        ++returned;
    });
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (PendingHandoffs() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_EQ(PendingHandoffs(), 2);
    EXPECT_TRUE(ran.empty());
    // Nothing runs until the main thread processes messages; then everything queued runs.
    EXPECT_TRUE(PumpUntil([&] { return returned == 2; }));
    for (auto& w : workers) w.join();
    ASSERT_EQ(ran.size(), 2u);
    EXPECT_EQ(ran[0], 1);
    EXPECT_EQ(ran[1], 2);
}

TEST(MainThreadHandoff, HoldsWorkUntilProcessedAndCarriesExceptionsBack) {
    ProcessMessages();
    std::atomic<bool> ran{false};
    std::string caught;
    std::thread worker([&] {
        try {
            RunOnMainThread([&] {
                ran = true;
                throw std::runtime_error("from the handler");
            });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
    });
    ASSERT_TRUE(WaitForMessages(5s));  // woken, yet nothing has run
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(PendingHandoffs(), 1);
    ProcessMessages();
    worker.join();
    EXPECT_TRUE(ran.load());
    EXPECT_EQ(caught, "from the handler");
}

TEST(MainThreadHandoff, CancelledWorkIsDroppedWithoutRunning) {
    ProcessMessages();
    std::atomic<bool> cancelled{false};
    std::atomic<int> result{-1};
    std::thread worker([&] { result = RunOnMainThread([] { ADD_FAILURE() << "cancelled work ran"; }, [&] { return cancelled.load(); }); });
    ASSERT_TRUE(WaitForMessages(5s));
    cancelled = true;
    WakeHandoffWaiters();
    worker.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(PendingHandoffs(), 0);
    ProcessMessages();
    EXPECT_FALSE(WaitForMessages(0ms) && PendingHandoffs() > 0);
}

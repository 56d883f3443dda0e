#include "MainThread.h"

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "Deadline.h"
#include "HandoffQueue.h"
#include "MainThreadPlatform.h"

namespace quor {

namespace {

struct TMainThread {
    std::mutex lock;
    std::thread::id id;
    bool bound = false;
    THandoffQueue handoffs{[] { platform::WakeMainThread(); }};
    std::vector<std::weak_ptr<THandoffQueue>> alsoServed;
};

// Never destroyed: workers may still be blocked on it while the process exits.
TMainThread& Main() {
    static TMainThread* main = new TMainThread;
    return *main;
}

// The queues served besides the main thread's own, those that still exist.
std::vector<std::shared_ptr<THandoffQueue>> AlsoServed() {
    TMainThread& m = Main();
    std::lock_guard<std::mutex> guard(m.lock);
    std::vector<std::shared_ptr<THandoffQueue>> queues;
    for (const auto& weak : m.alsoServed)
        if (auto queue = weak.lock()) queues.push_back(std::move(queue));
    return queues;
}

}  // namespace

void AlsoServeOnMainThread(const std::shared_ptr<THandoffQueue>& queue) {
    TMainThread& m = Main();
    std::lock_guard<std::mutex> guard(m.lock);
    m.alsoServed.erase(std::remove_if(m.alsoServed.begin(), m.alsoServed.end(),
                                      [](const std::weak_ptr<THandoffQueue>& weak) { return weak.expired(); }),
                       m.alsoServed.end());
    m.alsoServed.push_back(queue);
}

void BindMainThread() {
    TMainThread& m = Main();
    {
        std::lock_guard<std::mutex> guard(m.lock);
        if (m.bound) return;
        m.bound = true;
        m.id = std::this_thread::get_id();
    }
    platform::CreateMainThreadWakeup();
}

bool IsMainThread() {
    TMainThread& m = Main();
    std::lock_guard<std::mutex> guard(m.lock);
    return m.bound && m.id == std::this_thread::get_id();
}

bool IsAnotherThreadThanMain() {
    TMainThread& m = Main();
    std::lock_guard<std::mutex> guard(m.lock);
    return m.bound && m.id != std::this_thread::get_id();
}

void RunMainThreadHandoffs() { Main().handoffs.RunPending(); }

void RunPendingHandoffs() {
    Main().handoffs.RunPending();
    for (const auto& queue : AlsoServed()) queue->RunPending();
}

void ProcessMessages() {
    BindMainThread();
    platform::PumpMainThread();
    RunPendingHandoffs();
}

bool WaitForMessages(std::chrono::milliseconds timeout) { return WaitForMessagesOrInput(timeout, -1); }

bool WaitForMessagesOrInput(std::chrono::milliseconds timeout, int descriptor) {
    BindMainThread();
    const TDeadline deadline = TDeadline::In(timeout);
    for (;;) {
        if (PendingHandoffs() > 0) return true;
        bool input = false;
        if (!platform::WaitMainThread(deadline.Remaining(), descriptor, input)) return false;
        // A hand-off queued after the check above is seen by the next one, so clearing a
        // stale wake-up loses none.
        if (input || PendingHandoffs() > 0 || platform::KeepWakeup()) return true;
    }
}

bool RunOnMainThread(const std::function<void()>& work, const std::function<bool()>& cancelled) {
    if (IsMainThread()) {
        work();
        return true;
    }
    return Main().handoffs.Post(work, cancelled);
}

void WakeMainThread() { platform::WakeMainThread(); }

void WakeHandoffWaiters() { Main().handoffs.WakeWaiters(); }

int PendingHandoffs() {
    int pending = Main().handoffs.Pending();
    for (const auto& queue : AlsoServed()) pending += queue->Pending();
    return pending;
}

}  // namespace quor

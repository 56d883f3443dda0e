#include "MainThread.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "Deadline.h"
#include "MainThreadPlatform.h"

namespace quor {

namespace {

struct Handoff {
    const std::function<void()>* work = nullptr;
    bool started = false;
    bool done = false;
    std::exception_ptr error;
};

struct HandoffQueue {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Handoff*> pending;
    std::thread::id mainThread;
    bool bound = false;
};

// Never destroyed: workers may still be blocked on it while the process exits.
HandoffQueue& Queue() {
    static HandoffQueue* queue = new HandoffQueue;
    return *queue;
}

}  // namespace

void BindMainThread() {
    HandoffQueue& q = Queue();
    {
        std::lock_guard<std::mutex> guard(q.lock);
        if (q.bound) return;
        q.bound = true;
        q.mainThread = std::this_thread::get_id();
    }
    platform::CreateMainThreadWakeup();
}

bool IsMainThread() {
    HandoffQueue& q = Queue();
    std::lock_guard<std::mutex> guard(q.lock);
    return q.bound && q.mainThread == std::this_thread::get_id();
}

bool IsAnotherThreadThanMain() {
    HandoffQueue& q = Queue();
    std::lock_guard<std::mutex> guard(q.lock);
    return q.bound && q.mainThread != std::this_thread::get_id();
}

void RunPendingHandoffs() {
    HandoffQueue& q = Queue();
    for (;;) {
        Handoff* handoff;
        {
            std::lock_guard<std::mutex> guard(q.lock);
            if (q.pending.empty()) return;
            handoff = q.pending.front();
            q.pending.pop_front();
            handoff->started = true;
        }
        std::exception_ptr error;
        try {
            (*handoff->work)();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> guard(q.lock);
            // Moved, not copied: the worker alone owns the exception from here on, so that
            // its release never races with this thread's.
            handoff->error = std::move(error);
            handoff->done = true;  // the worker may release `handoff` from here on
        }
        q.changed.notify_all();
    }
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
    HandoffQueue& q = Queue();
    Handoff handoff;
    handoff.work = &work;
    std::unique_lock<std::mutex> guard(q.lock);
    if (cancelled && cancelled()) return false;
    q.pending.push_back(&handoff);
    guard.unlock();
    platform::WakeMainThread();
    guard.lock();
    q.changed.wait(guard, [&] { return handoff.done || (!handoff.started && cancelled && cancelled()); });
    if (!handoff.done) {
        q.pending.erase(std::find(q.pending.begin(), q.pending.end(), &handoff));
        return false;
    }
    if (handoff.error) std::rethrow_exception(handoff.error);
    return true;
}

void WakeHandoffWaiters() {
    HandoffQueue& q = Queue();
    { std::lock_guard<std::mutex> guard(q.lock); }
    q.changed.notify_all();
}

int PendingHandoffs() {
    HandoffQueue& q = Queue();
    std::lock_guard<std::mutex> guard(q.lock);
    return static_cast<int>(q.pending.size());
}

}  // namespace quor

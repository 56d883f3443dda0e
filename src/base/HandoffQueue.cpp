#include "HandoffQueue.h"

#include <algorithm>
#include <exception>

namespace quor {

struct THandoffQueue::THandoff {
    const std::function<void()>* work = nullptr;
    bool started = false;
    bool done = false;
    std::exception_ptr error;
};

bool THandoffQueue::Post(const std::function<void()>& work, const std::function<bool()>& cancelled) {
    THandoff handoff;
    handoff.work = &work;
    std::unique_lock<std::mutex> guard(FLock);
    if (cancelled && cancelled()) return false;
    FPending.push_back(&handoff);
    guard.unlock();
    FWake();
    guard.lock();
    FChanged.wait(guard, [&] { return handoff.done || (!handoff.started && cancelled && cancelled()); });
    if (!handoff.done) {
        FPending.erase(std::find(FPending.begin(), FPending.end(), &handoff));
        return false;
    }
    if (handoff.error) std::rethrow_exception(handoff.error);
    return true;
}

void THandoffQueue::RunPending() {
    for (;;) {
        THandoff* handoff;
        {
            std::lock_guard<std::mutex> guard(FLock);
            if (FPending.empty()) return;
            handoff = FPending.front();
            FPending.pop_front();
            handoff->started = true;
        }
        std::exception_ptr error;
        try {
            (*handoff->work)();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> guard(FLock);
            // Moved, not copied: the worker alone owns the exception from here on, so that
            // its release never races with this thread's.
            handoff->error = std::move(error);
            handoff->done = true;  // the worker may release `handoff` from here on
        }
        FChanged.notify_all();
    }
}

void THandoffQueue::WakeWaiters() {
    { std::lock_guard<std::mutex> guard(FLock); }
    FChanged.notify_all();
}

int THandoffQueue::Pending() {
    std::lock_guard<std::mutex> guard(FLock);
    return static_cast<int>(FPending.size());
}

}  // namespace quor

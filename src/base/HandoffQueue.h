// Work handed from a worker thread to the thread that serves a queue, synchronously: the
// work runs on the serving thread, in order, when that thread runs the pending hand-offs,
// and the worker waits until it has run. The main thread has one (base/MainThread.h); a
// serial port natively has its own, served by whichever thread runs the port's operation.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace quor {

class THandoffQueue {
public:
    // `wake` (any thread) makes the serving thread look at the queue.
    explicit THandoffQueue(std::function<void()> wake) : FWake(std::move(wake)) {}
    THandoffQueue(const THandoffQueue&) = delete;
    THandoffQueue& operator=(const THandoffQueue&) = delete;

    // Worker: queues `work`, wakes the serving thread and blocks until `work` has run; an
    // exception of `work` is rethrown here. Returns false without running it when
    // `cancelled` becomes true while it still waits to be picked up (whoever makes it true
    // then calls WakeWaiters). Work that has started is always waited for.
    bool Post(const std::function<void()>& work, const std::function<bool()>& cancelled = {});
    // Serving thread: runs every pending hand-off, in order.
    void RunPending();
    // Makes every worker blocked in Post test its `cancelled` condition again.
    void WakeWaiters();
    int Pending();

private:
    struct THandoff;
    std::function<void()> FWake;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<THandoff*> FPending;
};

}  // namespace quor

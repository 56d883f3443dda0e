#include "Thread.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "MainThread.h"
#include "ThreadPlatform.h"

namespace quor {

namespace {
struct LiveCount {
    std::mutex lock;
    std::condition_variable changed;
    int count = 0;
};
LiveCount& Live() {
    static LiveCount* live = new LiveCount;  // outlives every detached thread
    return *live;
}
}  // namespace

TThread::~TThread() = default;

void TThread::Start() {
    {
        std::lock_guard<std::mutex> guard(Live().lock);
        ++Live().count;
    }
    try {
        std::thread(&TThread::Run, shared_from_this()).detach();
    } catch (...) {
        // The system made no thread (std::system_error): none is live, and the caller hears.
        std::lock_guard<std::mutex> guard(Live().lock);
        --Live().count;
        throw;
    }
}

void TThread::Run(std::shared_ptr<TThread> self) {
    if (self->FPriority == tpHigher) platform::RaiseCurrentThreadPriority();
    if (!self->Terminated()) {
        try {
            self->Execute();
        } catch (...) {
            // An exception ends the thread and is reported nowhere else.
        }
    }
    self->FFinished.store(true);
    self.reset();  // frees the object unless someone else still holds it
    LiveCount& live = Live();
    {
        std::lock_guard<std::mutex> guard(live.lock);
        --live.count;
    }
    live.changed.notify_all();
}

bool TThread::Synchronize(const std::function<void()>& work, const std::function<bool()>& cancelled) {
    return RunOnMainThread(work, cancelled);
}

int TThread::LiveThreads() {
    std::lock_guard<std::mutex> guard(Live().lock);
    return Live().count;
}

bool TThread::WaitUntilNoLiveThreads(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(Live().lock);
    return Live().changed.wait_for(guard, timeout, [] { return Live().count == 0; });
}

}  // namespace quor

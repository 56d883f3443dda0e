// A lock that the thread holding it may take again, whose wait can be given up: while
// another thread holds it, a waiting TInterruptibleLock asks `interrupted` at every pass
// (Ctrl+C in a Python program) and, when it says so, fails with TFailureKind::Interrupted and
// `message`. (Built on a plain mutex and condition variable: the sanitizers see those.)
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "base/Exceptions.h"

namespace quor {

class TReentrantMutex {
public:
    void lock() { Acquire(nullptr, nullptr); }
    bool try_lock() {
        std::lock_guard<std::mutex> guard(FState);
        if (FDepth > 0 && FOwner != std::this_thread::get_id()) return false;
        FOwner = std::this_thread::get_id();
        ++FDepth;
        return true;
    }
    void unlock() {
        {
            std::lock_guard<std::mutex> guard(FState);
            if (--FDepth > 0) return;
            FOwner = std::thread::id();
        }
        FFree.notify_one();
    }
    // Waits for the lock, asking `interrupted` (when given) every 50 ms; the question is asked
    // without holding anything, since answering it may wait for the holder.
    void Acquire(const std::function<bool()>* interrupted, const char* message) {
        std::unique_lock<std::mutex> guard(FState);
        const std::thread::id me = std::this_thread::get_id();
        while (FDepth > 0 && FOwner != me) {
            if (FFree.wait_for(guard, std::chrono::milliseconds(50), [&] { return FDepth == 0; })) break;
            if (!interrupted || !*interrupted) continue;
            guard.unlock();
            const bool stop = (*interrupted)();
            guard.lock();
            if (stop) throw Exception(message, TFailureKind::Interrupted);
        }
        FOwner = me;
        ++FDepth;
    }

private:
    std::mutex FState;
    std::condition_variable FFree;
    std::thread::id FOwner;
    int FDepth = 0;
};

class TInterruptibleLock {
public:
    TInterruptibleLock(TReentrantMutex& lock, const std::function<bool()>& interrupted, const char* message)
        : FLock(lock) {
        FLock.Acquire(&interrupted, message);
    }
    ~TInterruptibleLock() { FLock.unlock(); }
    TInterruptibleLock(const TInterruptibleLock&) = delete;
    TInterruptibleLock& operator=(const TInterruptibleLock&) = delete;

private:
    TReentrantMutex& FLock;
};

}  // namespace quor

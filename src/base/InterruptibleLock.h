// A lock that a thread may take again, whose wait can be given up: while another thread
// holds it, the waiting thread asks `interrupted` at every pass (Ctrl+C in a Python program)
// and, when it says so, fails with TFailureKind::Interrupted and `message`.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>

#include "base/Exceptions.h"

namespace quor {

class TInterruptibleLock {
public:
    TInterruptibleLock(std::recursive_timed_mutex& lock, const std::function<bool()>& interrupted,
                       const char* message)
        : FLock(lock) {
        if (FLock.try_lock()) return;
        while (!FLock.try_lock_for(std::chrono::milliseconds(50))) {
            if (interrupted()) throw Exception(message, TFailureKind::Interrupted);
        }
    }
    ~TInterruptibleLock() { FLock.unlock(); }
    TInterruptibleLock(const TInterruptibleLock&) = delete;
    TInterruptibleLock& operator=(const TInterruptibleLock&) = delete;

private:
    std::recursive_timed_mutex& FLock;
};

}  // namespace quor

// The main thread is woken through an eventfd: workers add to its counter, the pump reads
// it back to zero, and WaitForMessages polls it.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "Deadline.h"
#include "MainThreadPlatform.h"

namespace quor::platform {

namespace {
// Kept open for the life of the process, like the binding of the main thread it serves: a
// worker may still wake the main thread while the process ends, and must not write to a
// descriptor that was closed (or reused) under it.
int wakeFd = -1;
}

void CreateMainThreadWakeup() {
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void WakeMainThread() {
    const uint64_t one = 1;
    if (wakeFd >= 0) (void)!write(wakeFd, &one, sizeof one);
}

// Nothing to dispatch here: the hand-offs run from the queue, and a wake-up left behind by
// one that has run is cleared by the next wait (KeepWakeup), not by a read on every pump.
void PumpMainThread() {}

bool KeepWakeup() {
    // Only hand-offs wake this thread: clear the stale count.
    uint64_t count;
    if (wakeFd >= 0) (void)!read(wakeFd, &count, sizeof count);
    return false;
}

bool WaitMainThread(std::chrono::milliseconds timeout, int descriptor, bool& descriptorReady) {
    descriptorReady = false;
    if (wakeFd < 0) return false;
    const TDeadline deadline = TDeadline::In(timeout);
    for (;;) {
        pollfd p[2] = {{wakeFd, POLLIN, 0}, {descriptor, POLLIN, 0}};
        const int n = poll(p, descriptor >= 0 ? 2 : 1, deadline.SystemTimeout(INT_MAX, -1));
        if (n > 0) {
            descriptorReady = descriptor >= 0 && p[1].revents != 0;
            return true;
        }
        if (n < 0 && errno != EINTR) return false;
        if (n == 0 && deadline.Expired()) return false;
    }
}

}  // namespace quor::platform

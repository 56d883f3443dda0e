#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <mutex>

#include "CommObjs.h"
#include "base/Deadline.h"

namespace quor {

const int32_t kInvalidHandleError = EBADF;
const THandle kNoEventHandle = kInvalidHandle;

int32_t LastSystemError() { return errno; }

THandleObject::~THandleObject() = default;

void TEventHandleTraits::Close(THandle handle) { close(static_cast<int>(handle)); }

// The eventfd's counter is the state: non-zero is signalled.
TEvent::TEvent(void*, bool ManualReset, bool InitialState, const std::string& Name) : FManualReset(ManualReset) {
    if (!Name.empty()) return;
    const int fd = eventfd(InitialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd >= 0) FHandle.Reset(fd);
}

TEventWaitResult TEvent::WaitFor(uint32_t Timeout) {
    const TDeadline deadline = Timeout == INFINITE_WAIT ? TDeadline::Never() : TDeadline::In(std::chrono::milliseconds(Timeout));
    for (;;) {
        const int wait = deadline.SystemTimeout(INT_MAX, -1);
        pollfd p{static_cast<int>(FHandle.Get()), POLLIN, 0};
        if (!FHandle.Valid()) {
            FError = EBADF;
            return wrError;
        }
        const int n = poll(&p, 1, wait);
        if (n < 0) {
            if (errno == EINTR) continue;
            FError = errno;
            return wrError;
        }
        if (n > 0) {
            if (p.revents & POLLNVAL) {
                FError = EBADF;
                return wrError;
            }
            if (FManualReset) return wrSignaled;
            // Auto reset: only the waiter that takes the count is released.
            uint64_t count;
            if (read(static_cast<int>(FHandle.Get()), &count, sizeof count) == sizeof count) return wrSignaled;
            continue;
        }
        if (deadline.Expired()) return wrTimeout;
    }
}

void TEvent::SetEvent() {
    const uint64_t one = 1;
    if (FHandle.Valid()) (void)!write(static_cast<int>(FHandle.Get()), &one, sizeof one);
}

void TEvent::ResetEvent() {
    uint64_t count;
    if (FHandle.Valid()) (void)!read(static_cast<int>(FHandle.Get()), &count, sizeof count);
}

struct TCriticalSection::Section {
    std::recursive_mutex mutex;
};

TCriticalSection::TCriticalSection() : FSection(std::make_unique<Section>()) {}
TCriticalSection::~TCriticalSection() = default;
void TCriticalSection::Acquire() { FSection->mutex.lock(); }
void TCriticalSection::Release() { FSection->mutex.unlock(); }

}  // namespace quor

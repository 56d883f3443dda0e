#include "DriverSeam.h"

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstdarg>
#include <mutex>

extern "C" int __real_ioctl(int fd, unsigned long request, ...);
extern "C" int __real_tcflush(int fd, int queue);
extern "C" int __real_close(int fd);

namespace driver_seam {
namespace {

struct State {
    std::mutex lock;  // the event thread looks at the queues too
    int fd = -1;
    serial_icounter_struct counters{};
    int queued = 0;
    int carriedPerLook = 0;
    int purgeError = 0;
    Record record;
};
State& Seam() {
    static State state;
    return state;
}

}  // namespace

void Watch(int fd) {
    State& s = Seam();
    std::lock_guard<std::mutex> guard(s.lock);
    s.fd = fd;
    s.counters = {};
    s.queued = 0;
    s.carriedPerLook = 0;
    s.purgeError = 0;
    s.record = {};
}

void Release() {
    std::lock_guard<std::mutex> guard(Seam().lock);
    Seam().fd = -1;
}

void CountLineErrors(const LineErrors& errors) {
    std::lock_guard<std::mutex> guard(Seam().lock);
    serial_icounter_struct& c = Seam().counters;
    c.frame += errors.frame;
    c.overrun += errors.overrun;
    c.parity += errors.parity;
    c.brk += errors.brk;
    c.buf_overrun += errors.bufferOverrun;
}

void QueueOutput(int bytes, int carriedPerLook) {
    std::lock_guard<std::mutex> guard(Seam().lock);
    Seam().queued = bytes;
    Seam().carriedPerLook = carriedPerLook;
}

void FailPurges(int error) {
    std::lock_guard<std::mutex> guard(Seam().lock);
    Seam().purgeError = error;
}

Record Seen() {
    std::lock_guard<std::mutex> guard(Seam().lock);
    return Seam().record;
}

}  // namespace driver_seam

using driver_seam::Seam;

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    {
        auto& s = Seam();
        std::lock_guard<std::mutex> guard(s.lock);
        if (fd >= 0 && fd == s.fd) {
            if (request == TIOCGICOUNT) {
                *static_cast<serial_icounter_struct*>(arg) = s.counters;
                return 0;
            }
            if (request == TIOCOUTQ) {
                *static_cast<int*>(arg) = s.queued;
                ++s.record.looks;
                s.queued = s.queued > s.carriedPerLook ? s.queued - s.carriedPerLook : 0;
                return 0;
            }
        }
    }
    return __real_ioctl(fd, request, arg);
}

extern "C" int __wrap_tcflush(int fd, int queue) {
    {
        auto& s = Seam();
        std::lock_guard<std::mutex> guard(s.lock);
        if (fd >= 0 && fd == s.fd && (queue == TCOFLUSH || queue == TCIOFLUSH)) {
            ++s.record.purges;
            if (s.purgeError != 0) {
                errno = s.purgeError;
                return -1;
            }
            s.record.discarded += s.queued;
            s.queued = 0;
        }
    }
    return __real_tcflush(fd, queue);
}

extern "C" int __wrap_close(int fd) {
    {
        auto& s = Seam();
        std::lock_guard<std::mutex> guard(s.lock);
        if (fd >= 0 && fd == s.fd) {
            s.record.closed = true;
            s.record.queuedAtClose = s.queued;
            s.fd = -1;  // the number may be given to the next descriptor opened
        }
    }
    return __real_close(fd);
}

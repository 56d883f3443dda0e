// The serial port over POSIX terminals (termios and the usual tty ioctls), for Linux users
// and for the native tests on pseudo-terminals.
//
// Error codes are errno values, not the Windows codes: an invalid handle is EBADF (9)
// where Windows says 6, a device held by another program EBUSY (16) where Windows says
// access denied (5), a refused setting EINVAL (22) where Windows says 87. A missing device
// is 2 on both.
#include <fcntl.h>
#include <poll.h>
#ifdef __linux__
#include <linux/serial.h>
#include <sys/epoll.h>
#endif
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <map>
#include <string>
#include <thread>

#include "base/Deadline.h"
#include "base/HandoffQueue.h"
#include "base/MainThread.h"
#include "serial/CommInt.h"
#include "serial/CommPlatform.h"

namespace quor {
const int32_t kCommTimeoutError = ETIMEDOUT;
}

namespace quor::platform {

bool SetCustomLineRate(int fd, uint32_t rate, int32_t& error);
uint32_t CurrentLineRate(int fd);

const int32_t kInvalidParameterError = EINVAL;
const int32_t kNoModemLinesError = ENOTSUP;  // never reported: see ModemLineCall

namespace {

int Fd(THandle handle) { return static_cast<int>(handle); }

// What termios cannot hold of the device control block (DTR and RTS control, the options
// without a terminal equivalent, the limits and the other characters) is remembered per
// open device, as a driver would. Only the main thread opens, configures and closes ports.
// Never destroyed: a port still open when the process exits is closed by destructors that
// may run after this one would have.
std::map<int, TCommDCB>& Remembered() {
    static auto* dcbs = new std::map<int, TCommDCB>;
    return *dcbs;
}

// The line errors a driver has counted since the device appeared (Linux keeps such counters
// for real UARTs and USB serial adapters; a pseudo-terminal has none). ClearErrors reports
// the kinds that grew since it last looked, as the Windows driver reports and resets its
// error word; the counts last seen are kept per open device, from its opening on.
struct TErrorCounts {
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufferOverrun = 0;
};
std::map<int, TErrorCounts>& ErrorCountsSeen() {
    static auto* counts = new std::map<int, TErrorCounts>;  // never destroyed, as Remembered()
    return *counts;
}
bool ReadErrorCounts(int fd, TErrorCounts& counts) {
#ifdef TIOCGICOUNT
    serial_icounter_struct c{};
    if (ioctl(fd, TIOCGICOUNT, &c) != 0) return false;
    counts = {c.frame, c.overrun, c.parity, c.brk, c.buf_overrun};
    return true;
#else
    (void)fd;
    (void)counts;
    return false;
#endif
}

struct RateCode {
    uint32_t rate;
    speed_t code;
};
constexpr RateCode kRates[] = {{110, B110},     {300, B300},     {600, B600},       {1200, B1200},
                               {2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
                               {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400}};

bool ModemLineCall(int fd, unsigned long request, int bits, int32_t& error) {
    if (ioctl(fd, request, &bits) == 0) return true;
    // A device without modem control lines (a pseudo-terminal) has nothing to set: the
    // line is as raised or lowered as it will ever be.
    if (errno == ENOTTY || errno == EINVAL) return true;
    error = errno;
    return false;
}

// A write is complete once the line has carried it, as a Windows driver completes a write
// once it has transmitted it: a command reported as written is on its way to the device, and
// when a later write fails and the output queue is discarded, nothing reported as written is
// discarded with it. At 38400 baud a command frame takes a few milliseconds; a line that
// carries nothing (a stalled adapter) makes the write run out of time, with the bytes the
// line did carry reported. A pseudo-terminal has no line and reports an empty queue at once.
int32_t WaitUntilCarried(int fd, int32_t count, const TDeadline& deadline, int32_t& movedBefore) {
    constexpr auto kLookAgain = std::chrono::milliseconds(1);  // about four bytes' time
    for (;;) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return count;
        if (deadline.Expired()) {
            movedBefore = count - std::min(queued, count);
            return -1;
        }
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(kLookAgain, deadline.Remaining()));
    }
}

}  // namespace

std::string OpenFailureText(const std::string& name, int32_t error) {
    const std::string text = "Error accessing specified device " + name;
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return text + ": there is no such device. Check that the stimulator is plugged in and switched on, and "
                          "which port it is on (ls /dev/ttyACM* /dev/ttyUSB*)";
        case EACCES:
        case EPERM: {
            // Serial devices belong to a group whose members may open them (dialout on Debian).
            struct stat info {};
            const group* owner = stat(name.c_str(), &info) == 0 ? getgrgid(info.st_gid) : nullptr;
            const std::string group = owner && std::string(owner->gr_name) != "root" ? owner->gr_name : "dialout";
            return text + ": permission denied. Add your user to the " + group + " group (sudo usermod -aG " + group +
                   " $USER), then log out and in again";
        }
        case EBUSY:
            return text + ": another program is using it. Close that program, then connect again";
        default:
            return text;
    }
}

THandle OpenComm(const std::string& name, int32_t& error) {
    const int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return kInvalidHandle;
    }
    if (isatty(fd)) {
        // TIOCEXCL keeps other programs out (except privileged ones); the advisory lock
        // also keeps out a second opening by a privileged program or by this one.
        ioctl(fd, TIOCEXCL);
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ioctl(fd, TIOCNXCL);
            close(fd);
            error = EBUSY;
            return kInvalidHandle;
        }
    }
    TErrorCounts counts;
    ReadErrorCounts(fd, counts);
    ErrorCountsSeen()[fd] = counts;
    return fd;
}

bool IsCommDevice(THandle handle) { return isatty(Fd(handle)) == 1; }

std::string NotCommDeviceText(THandle handle, const std::string& name, int32_t& error) {
    error = ENOTTY;
    struct stat info {};
    const char* what = "not a terminal";
    if (fstat(Fd(handle), &info) == 0) {
        if (S_ISREG(info.st_mode)) what = "a regular file";
        else if (S_ISDIR(info.st_mode)) what = "a directory";
        else if (S_ISCHR(info.st_mode)) what = "a character device that is not a terminal";
        else if (S_ISFIFO(info.st_mode)) what = "a pipe";
        else if (S_ISSOCK(info.st_mode)) what = "a socket";
    }
    return "Cannot use " + name + " as the stimulator's port: it is no serial port (" + what +
           "). Name the device the stimulator appears as, e.g. /dev/ttyACM0 (quorlib ports lists them)";
}

void CloseComm(THandle handle) {
    if (handle == kInvalidHandle) return;
    Remembered().erase(Fd(handle));
    ErrorCountsSeen().erase(Fd(handle));
    ioctl(Fd(handle), TIOCNXCL);
    close(Fd(handle));
}

bool SetPollingTimeouts(THandle handle, int32_t& error) {
    termios t;
    if (tcgetattr(Fd(handle), &t) != 0) {
        error = errno;
        return false;
    }
    // Reads return at once with what has arrived (the descriptor is non-blocking too).
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(Fd(handle), TCSANOW, &t) != 0) {
        error = errno;
        return false;
    }
    return true;
}

void GetCommDCB(THandle handle, TCommDCB& dcb) {
    const auto known = Remembered().find(Fd(handle));
    if (known != Remembered().end()) {
        dcb = known->second;
    } else {
        dcb = TCommDCB{};
        dcb.Flags = comm::DcbBinary | comm::DcbDtrControlEnable | comm::DcbRtsControlEnable;
    }
    termios t;
    if (tcgetattr(Fd(handle), &t) != 0) return;
    dcb.BaudRate = CurrentLineRate(Fd(handle));
    switch (t.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    dcb.Parity = 0;
    if (t.c_cflag & PARENB) {
        dcb.Parity = (t.c_cflag & PARODD) ? 1 : 2;
#ifdef CMSPAR
        if (t.c_cflag & CMSPAR) dcb.Parity = (t.c_cflag & PARODD) ? 3 : 4;
#endif
    }
    if (!(t.c_cflag & CSTOPB))
        dcb.StopBits = 0;
    else if (dcb.StopBits == 0)
        dcb.StopBits = 2;
    auto flag = [&](uint32_t bit, bool on) { dcb.Flags = on ? dcb.Flags | bit : dcb.Flags & ~bit; };
    flag(comm::DcbParity, t.c_iflag & INPCK);
    flag(comm::DcbOutX, t.c_iflag & IXON);
    flag(comm::DcbInX, t.c_iflag & IXOFF);
    if (t.c_cflag & CRTSCTS) {
        dcb.Flags |= comm::DcbOutxCtsFlow;
        dcb.Flags = (dcb.Flags & ~comm::DcbRtsControlMask) | comm::DcbRtsControlHandshake;
    } else {
        dcb.Flags &= ~comm::DcbOutxCtsFlow;
        if ((dcb.Flags & comm::DcbRtsControlMask) == comm::DcbRtsControlHandshake)
            dcb.Flags = (dcb.Flags & ~comm::DcbRtsControlMask) | comm::DcbRtsControlEnable;
    }
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

bool SetCommDCB(THandle handle, const TCommDCB& dcb, int32_t& error) {
    const int fd = Fd(handle);
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        error = errno;
        return false;
    }
    // A raw binary line: no echo, no line editing, no translation, no signals.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
#ifdef CMSPAR
    t.c_cflag &= ~CMSPAR;
#endif
    t.c_cflag |= CREAD | CLOCAL;
    switch (dcb.ByteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default: error = EINVAL; return false;  // terminals have no 4-bit bytes
    }
    switch (dcb.Parity) {
    case 0: break;
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
#ifdef CMSPAR
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
#endif
    default: error = EINVAL; return false;
    }
    // One and a half stop bits: a UART sends them for 5-bit bytes when asked for two.
    switch (dcb.StopBits) {
    case 0: break;
    case 1:
    case 2: t.c_cflag |= CSTOPB; break;
    default: error = EINVAL; return false;
    }
    if (dcb.Flags & comm::DcbParity) t.c_iflag |= INPCK;
    if ((dcb.Flags & comm::DcbOutxCtsFlow) || (dcb.Flags & comm::DcbRtsControlMask) == comm::DcbRtsControlHandshake)
        t.c_cflag |= CRTSCTS;
    if (dcb.Flags & comm::DcbOutX) t.c_iflag |= IXON;
    if (dcb.Flags & comm::DcbInX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    speed_t code = B38400;
    bool custom = true;
    for (const RateCode& r : kRates) {
        if (r.rate == dcb.BaudRate) {
            code = r.code;
            custom = false;
        }
    }
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        error = errno;
        return false;
    }
    if (custom && !SetCustomLineRate(fd, dcb.BaudRate, error)) return false;
    // DTR and RTS follow their control mode, as the Windows driver does on SetCommState.
    int32_t ignored = 0;
    const uint32_t dtr = dcb.Flags & comm::DcbDtrControlMask;
    if (dtr == 0) ModemLineCall(fd, TIOCMBIC, TIOCM_DTR, ignored);
    if (dtr == comm::DcbDtrControlEnable) ModemLineCall(fd, TIOCMBIS, TIOCM_DTR, ignored);
    const uint32_t rts = dcb.Flags & comm::DcbRtsControlMask;
    if (rts == 0) ModemLineCall(fd, TIOCMBIC, TIOCM_RTS, ignored);
    if (rts == comm::DcbRtsControlEnable) ModemLineCall(fd, TIOCMBIS, TIOCM_RTS, ignored);
    Remembered()[fd] = dcb;
    return true;
}

bool SetupBuffers(THandle handle, int32_t, int32_t, int32_t& error) {
    // The terminal layer's queues have sizes of their own; there is nothing to request.
    if (isatty(Fd(handle))) return true;
    error = errno;
    return false;
}

int32_t Transfer(THandle handle, TSimpleEvent&, bool writing, void* buf, int32_t count, uint32_t timeout,
                 int32_t& error, int32_t& movedBefore) {
    movedBefore = 0;
    const int fd = Fd(handle);
    if (!writing) {
        const ssize_t n = read(fd, buf, static_cast<size_t>(count));
        if (n >= 0) return static_cast<int32_t>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        error = errno;
        return kTransferFailed;
    }
    const TDeadline deadline =
        timeout == INFINITE_WAIT ? TDeadline::Never() : TDeadline::In(std::chrono::milliseconds(timeout));
    const char* bytes = static_cast<const char*>(buf);
    int32_t done = 0;
    for (;;) {
        const ssize_t n = write(fd, bytes + done, static_cast<size_t>(count - done));
        if (n > 0) done += static_cast<int32_t>(n);
        if (n >= 0 && done == count) return WaitUntilCarried(fd, count, deadline, movedBefore);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            if (done > 0) return done;  // the transfer ended early; report what went out
            error = errno;
            return kTransferFailed;
        }
        // The output queue is full: wait for room, at most until the write's deadline. What
        // the terminal took before the deadline cannot be called back (it may be on the line
        // already): the caller learns how much that was.
        movedBefore = done;
        if (deadline.Expired()) return -1;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, deadline.SystemTimeout(INT_MAX, -1)) == 0 && deadline.Expired()) return -1;
    }
}

bool ClearErrors(THandle handle, TComStat& stat) {
    stat = TComStat{};
    int in = 0, out = 0;
    if (ioctl(Fd(handle), FIONREAD, &in) != 0) return false;
    if (ioctl(Fd(handle), TIOCOUTQ, &out) != 0) out = 0;
    stat.InQue = static_cast<uint32_t>(in);
    stat.OutQue = static_cast<uint32_t>(out);
    TErrorCounts now;
    if (ReadErrorCounts(Fd(handle), now)) {
        TErrorCounts& seen = ErrorCountsSeen()[Fd(handle)];
        if (now.frame != seen.frame) stat.Errors |= comm::CeFrame;
        if (now.overrun != seen.overrun) stat.Errors |= comm::CeOverrun;
        if (now.parity != seen.parity) stat.Errors |= comm::CeRxParity;
        if (now.brk != seen.brk) stat.Errors |= comm::CeBreak;
        if (now.bufferOverrun != seen.bufferOverrun) stat.Errors |= comm::CeRxOver;
        seen = now;
    }
    return true;
}

uint32_t InputQueued(THandle handle, uint32_t&) {
    int in = 0;
    return ioctl(Fd(handle), FIONREAD, &in) == 0 && in > 0 ? static_cast<uint32_t>(in) : 0;
}

bool Purge(THandle handle, uint32_t flags, int32_t& error) {
    const bool rx = flags & (comm::PurgeRxAbort | comm::PurgeRxClear);
    const bool tx = flags & (comm::PurgeTxAbort | comm::PurgeTxClear);
    if (!(rx || tx) || tcflush(Fd(handle), rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH) == 0) return true;
    error = errno;
    return false;
}

bool Escape(THandle handle, uint32_t function, int32_t& error) {
    const int fd = Fd(handle);
    int result = 0;
    switch (function) {
    case comm::SetDtr: return ModemLineCall(fd, TIOCMBIS, TIOCM_DTR, error);
    case comm::ClrDtr: return ModemLineCall(fd, TIOCMBIC, TIOCM_DTR, error);
    case comm::SetRts: return ModemLineCall(fd, TIOCMBIS, TIOCM_RTS, error);
    case comm::ClrRts: return ModemLineCall(fd, TIOCMBIC, TIOCM_RTS, error);
    case comm::SetBreak: result = ioctl(fd, TIOCSBRK); break;
    case comm::ClrBreak: result = ioctl(fd, TIOCCBRK); break;
    case comm::SetXon: result = tcflow(fd, TCOON); break;
    case comm::SetXoff: result = tcflow(fd, TCOOFF); break;
    default: error = EINVAL; return false;
    }
    if (result == 0) return true;
    error = errno;
    return false;
}

int InputDescriptor(THandle handle) { return Fd(handle); }

bool DeviceGone(THandle handle) {
    pollfd p{Fd(handle), 0, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool ModemStatus(THandle handle, uint32_t& status) {
    int lines = 0;
    if (ioctl(Fd(handle), TIOCMGET, &lines) != 0) return false;
    status = ((lines & TIOCM_CTS) ? comm::MsCtsOn : 0) | ((lines & TIOCM_DSR) ? comm::MsDsrOn : 0) |
             ((lines & TIOCM_RNG) ? comm::MsRingOn : 0) | ((lines & TIOCM_CAR) ? comm::MsRlsdOn : 0);
    return true;
}

}  // namespace quor::platform

namespace quor {

// The watch of a terminal: poll() tells when input is waiting and when the line hangs up;
// it does not tell when more input arrives while some is waiting unread, when the output
// queue has drained or when a modem line has changed. So the port tells the thread when it
// reads, purges or writes, the thread looks at the queues and lines whenever it wakes, and
// while output is pending it looks again every few milliseconds. On Linux an edge-triggered
// epoll reports every arrival of input, so a reply that trickles in at the line rate is
// reported byte by byte, at once; elsewhere unread input is looked at every few milliseconds.
namespace {
// How long the thread sleeps between looks while output (or, without epoll, unread input)
// is pending.
constexpr int kLookAgainMs = 10;

// Waits for the thread's wake-up and for the line: input waiting (every new arrival, where
// the system can tell) and hang-up.
class TLineWaiter {
public:
    struct TResult {
        bool woken = false;   // the wake-up event was set
        bool hungUp = false;  // the line is gone, or the wait failed
    };

    TLineWaiter(int wake, int fd, bool wantRx) : FWake(wake), FFd(fd), FWantRx(wantRx) {
#ifdef __linux__
        FEpoll.Reset(epoll_create1(EPOLL_CLOEXEC));
        epoll_event wakeEvent{};
        wakeEvent.events = EPOLLIN;
        wakeEvent.data.fd = wake;
        epoll_event lineEvent{};
        lineEvent.events = (wantRx ? static_cast<uint32_t>(EPOLLIN) : 0u) | EPOLLET;
        lineEvent.data.fd = fd;
        if (FEpoll.Valid() && (epoll_ctl(FEpoll.Get(), EPOLL_CTL_ADD, wake, &wakeEvent) != 0 ||
                               epoll_ctl(FEpoll.Get(), EPOLL_CTL_ADD, fd, &lineEvent) != 0)) {
            FEpoll.Reset();
        }
#endif
    }
    TLineWaiter(const TLineWaiter&) = delete;
    TLineWaiter& operator=(const TLineWaiter&) = delete;

    // Whether each new arrival of input is reported even while earlier input lies unread.
    bool ReportsEveryArrival() const { return FEpoll.Valid(); }

    TResult Wait(bool inputReported, bool lineGone, int timeoutMs) {
        TResult result;
#ifdef __linux__
        if (FEpoll.Valid() && !lineGone) {
            epoll_event events[2];
            const int n = epoll_wait(FEpoll.Get(), events, 2, timeoutMs);
            if (n < 0 && errno != EINTR) result.hungUp = true;
            for (int i = 0; i < n; ++i) {
                if (events[i].data.fd == FWake) result.woken = true;
                if (events[i].data.fd == FFd && (events[i].events & (EPOLLHUP | EPOLLERR))) result.hungUp = true;
            }
            return result;
        }
#endif
        pollfd p[2] = {{FWake, POLLIN, 0}, {FFd, static_cast<short>(FWantRx && !inputReported ? POLLIN : 0), 0}};
        const int n = poll(p, lineGone ? 1 : 2, timeoutMs);
        if (n < 0 && errno != EINTR) result.hungUp = true;
        result.woken = p[0].revents & POLLIN;
        if (!lineGone && (p[1].revents & (POLLHUP | POLLERR | POLLNVAL))) result.hungUp = true;
        return result;
    }

private:
    int FWake, FFd;
    bool FWantRx;
    TFileDescriptor FEpoll;  // the line and the wake-up, watched together
};
}  // namespace

// The waiter is set up on the main thread when the port opens, before the thread starts:
// registering the descriptor from the thread could race with Close, and after a close the
// next Open may get the same descriptor number.
struct TCommEventThread::Watch {
    Watch(int wake, int fd, bool wantRx) : waiter(wake, fd, wantRx) {}
    TLineWaiter waiter;
    std::atomic<bool> outputPending{false};
    std::atomic<bool> inputTaken{false};
};

TCommEventThread::TCommEventThread(THandle Handle, TCommEventTypes Events)
    : TThread(tpHigher),
      FCommHandle(Handle),
      FEventError(FEvent.Handle() == kNoEventHandle ? LastSystemError() : 0),
      FDriverMask(comm::DriverMask(Events)),
      FWatch(std::make_unique<Watch>(static_cast<int>(FEvent.Handle()), static_cast<int>(Handle),
                                     (FDriverMask & comm::EvRxChar) != 0)) {}

TCommEventThread::~TCommEventThread() = default;

void TCommEventThread::OutputQueued() {
    FWatch->outputPending.store(true);
    FEvent.SetEvent();
}

void TCommEventThread::InputTaken() {
    FWatch->inputTaken.store(true);
    // Where every arrival wakes the thread anyway, the note waits for the next one; else
    // the thread must start watching for input again now.
    if (!FWatch->waiter.ReportsEveryArrival()) FEvent.SetEvent();
}

void TCommEventThread::Stop() {
    // Whether the body was still running when asked to end (it ends on its own only when a
    // handler raised): the thread leaves its loop as soon as it is woken, often before the
    // lock below is free, so it is asked now.
    const bool endedOnItsOwn = Finished();
    FStopRequested.store(true);
    Terminate();
    FEvent.SetEvent();  // ends the thread's poll, which it makes holding FHandleLock
    if (FTarget) FTarget->WakeWaiters();
    std::lock_guard<std::mutex> guard(FHandleLock);
    if (FStopped) return;
    FStopped = true;
    if (FBodyStarted.load() && !endedOnItsOwn) PurgeOnStop();
}

void TCommEventThread::Execute() {
    FBodyStarted.store(true);
    const int fd = static_cast<int>(FCommHandle);
    const bool wantRx = FDriverMask & comm::EvRxChar;
    const uint32_t lineEvents = FDriverMask & (comm::EvCts | comm::EvDsr | comm::EvRing | comm::EvRlsd);
    bool inputReported = false;  // input is waiting that a notification has already told of
    int inputCount = 0;
    int lines = -1;
    bool hungUp = false;
    TLineWaiter& waiter = FWatch->waiter;
    while (!Terminated()) {
        uint32_t mask = 0;
        {
            std::lock_guard<std::mutex> guard(FHandleLock);
            if (FStopped) break;
            const bool inputToLookAt = inputReported && !waiter.ReportsEveryArrival();
            const bool lookAgain = !hungUp && (inputToLookAt || FWatch->outputPending.load());
            const TLineWaiter::TResult woke = waiter.Wait(inputReported, hungUp, lookAgain ? kLookAgainMs : -1);
            if (Terminated()) break;
            if (woke.woken) FEvent.ResetEvent();
            if (!hungUp && woke.hungUp) {
                // The other end has gone (a pulled adapter, a closed pseudo-terminal). A
                // terminal that has hung up stays so: from now on only Stop is awaited.
                hungUp = true;
                continue;
            }
            if (hungUp) continue;
            if (FWatch->inputTaken.exchange(false)) inputReported = false;
            if (wantRx && FCallerReadsInput.load()) {
                inputReported = false;  // what the caller leaves unread is news afterwards
            } else if (wantRx) {
                int count = 0;
                if (ioctl(fd, FIONREAD, &count) == 0) {
                    if (count > 0 && (!inputReported || count > inputCount)) mask |= comm::EvRxChar;
                    inputReported = count > 0;
                    inputCount = count;
                }
            }
            if (FWatch->outputPending.load()) {
                int count = 0;
                if (ioctl(fd, TIOCOUTQ, &count) != 0 || count == 0) {
                    FWatch->outputPending.store(false);
                    mask |= FDriverMask & comm::EvTxEmpty;
                }
            }
            if (lineEvents) {
                int now = 0;
                if (ioctl(fd, TIOCMGET, &now) == 0) {
                    if (lines >= 0) {
                        const int changed = now ^ lines;
                        if (changed & TIOCM_CTS) mask |= comm::EvCts;
                        if (changed & TIOCM_DSR) mask |= comm::EvDsr;
                        if ((changed & TIOCM_RNG) && !(now & TIOCM_RNG)) mask |= comm::EvRing;  // trailing edge, as Windows
                        if (changed & TIOCM_CAR) mask |= comm::EvRlsd;
                        mask &= ~(~lineEvents & (comm::EvCts | comm::EvDsr | comm::EvRing | comm::EvRlsd));
                    }
                    lines = now;
                }
            }
        }
        if (mask != 0) {
            FEventMask = mask;
            if (!Notify()) break;
        }
    }
}

}  // namespace quor

namespace quor {

namespace {
// The port's own queue, woken through an eventfd that the waits of the port's user watch
// beside the device.
class TOwnPortEvents : public TPortEvents {
public:
    TOwnPortEvents()
        : FWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          FQueue(std::make_shared<THandoffQueue>([this] {
              const uint64_t one = 1;
              if (FWake.Valid()) (void)!write(FWake.Get(), &one, sizeof one);
              WakeMainThread();
          })) {
        AlsoServeOnMainThread(FQueue);
    }
    bool Post(const std::function<void()>& work, const std::function<bool()>& cancelled) override {
        return FQueue->Post(work, cancelled);
    }
    void WakeWaiters() override { FQueue->WakeWaiters(); }
    void RunPending() override { FQueue->RunPending(); }
    bool Wait(std::chrono::milliseconds timeout, int descriptor) override {
        const TDeadline deadline = TDeadline::In(timeout);
        for (;;) {
            if (FQueue->Pending() > 0) return true;
            pollfd p[2] = {{FWake.Get(), POLLIN, 0}, {descriptor, POLLIN, 0}};
            const int n = poll(p, descriptor >= 0 ? 2 : 1, deadline.SystemTimeout(INT_MAX, -1));
            if (n < 0 && errno != EINTR) return false;
            if (n > 0) {
                if (descriptor >= 0 && p[1].revents != 0) return true;
                // A wake-up whose hand-off has run already is stale: cleared, and the
                // queue looked at again, so that one queued in between is not missed.
                uint64_t count;
                (void)!read(FWake.Get(), &count, sizeof count);
                continue;
            }
            if (deadline.Expired()) return false;
        }
    }

private:
    TFileDescriptor FWake;
    std::shared_ptr<THandoffQueue> FQueue;
};
}  // namespace

std::shared_ptr<TPortEvents> TPortEvents::Create() { return std::make_shared<TOwnPortEvents>(); }

}  // namespace quor

// POSIX backend: pseudo-terminal pairs and serial devices through termios.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "Line.h"

namespace pulsyn_sim {

namespace {

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + ": " + strerror(errno));
}

// Raw 8N1 at 38400 baud, no flow control, reads return what is there.
bool MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

void SetFlags(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

class PosixLine final : public Line {
public:
    PosixLine() {
        if (pipe(wake_) != 0) throw SystemError("pipe");
        SetFlags(wake_[0]);
        SetFlags(wake_[1]);
    }
    ~PosixLine() override {
        Close();
        ::close(wake_[0]);
        ::close(wake_[1]);
    }

    std::string OpenPty() override {
        Close();
        int master = -1, slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw SystemError("openpty");
        // The client end starts raw, without echo, so that nothing the client writes comes
        // back to it from the terminal driver before the client has set its own line up.
        MakeRaw(slave);
        SetFlags(master);
        fcntl(slave, F_SETFD, fcntl(slave, F_GETFD) | FD_CLOEXEC);
        const char* name = ptsname(master);
        if (!name) {
            ::close(master);
            ::close(slave);
            throw SystemError("ptsname");
        }
        fd_ = master;
        // Holding the client end open ourselves keeps the master readable while no client
        // has it open (between a client's close and its next open).
        keep_ = slave;
        return name;
    }

    void OpenDevice(const std::string& name) override {
        Close();
        int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) throw SystemError("cannot open " + name);
        if (isatty(fd) && !MakeRaw(fd)) {
            ::close(fd);
            throw SystemError("cannot set 38400 8N1 on " + name);
        }
        fd_ = fd;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    void Close() override {
        if (fd_ >= 0) ::close(fd_);
        if (keep_ >= 0) ::close(keep_);
        fd_ = keep_ = -1;
    }

    void LetClientRead(double limit) override {
        if (fd_ < 0) return;
        if (keep_ < 0) {
            tcdrain(fd_);
            return;
        }
        // The bytes reach the client end's input queue a moment after the write; wait until
        // they have been seen there (or 50 ms passed) and then until the client has read them.
        const timespec step{0, 1000000};
        bool seen = false;
        for (double waited = 0; waited < limit; waited += 0.001) {
            int queued = 0;
            if (ioctl(keep_, TIOCINQ, &queued) != 0) return;
            if (queued > 0) seen = true;
            if (queued == 0 && (seen || waited >= 0.05)) return;
            nanosleep(&step, nullptr);
        }
    }

    long Read(char* buffer, size_t capacity, double timeout) override {
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {fd_, POLLIN, 0}};
        const nfds_t count = fd_ >= 0 ? 2 : 1;
        timespec ts{}, *limit = nullptr;
        if (timeout >= 0) {
            double whole = std::floor(timeout);
            ts.tv_sec = static_cast<time_t>(whole);
            ts.tv_nsec = static_cast<long>((timeout - whole) * 1e9);
            limit = &ts;
        }
        int ready = ppoll(fds, count, limit, nullptr);
        if (ready < 0) return errno == EINTR ? 0 : -1;
        if (fds[0].revents & POLLIN) {
            char sink[64];
            while (::read(wake_[0], sink, sizeof sink) > 0) {
            }
        }
        if (count < 2 || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) return 0;
        ssize_t n = ::read(fd_, buffer, capacity);
        if (n > 0) return n;
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
        Close();
        return -1;
    }

    bool Write(std::string_view bytes) override {
        size_t done = 0;
        while (done < bytes.size() && fd_ >= 0) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) return false;
            pollfd out{fd_, POLLOUT, 0};
            if (poll(&out, 1, 1000) <= 0) return false;  // nobody reads the other end
        }
        return done == bytes.size();
    }

    void HoldClientOutput(bool hold) override {
        // The client end is one terminal however many descriptors it has: stopping its
        // output through ours stops the client's writes.
        if (keep_ >= 0) tcflow(keep_, hold ? TCOOFF : TCOON);
    }

    void Wake() override {
        char c = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
    }

private:
    int fd_ = -1;
    int keep_ = -1;
    int wake_[2] = {-1, -1};
};

}  // namespace

std::unique_ptr<Line> Line::Create() { return std::make_unique<PosixLine>(); }

std::string MakeLink(const std::string& link, const std::string& target) {
    namespace fs = std::filesystem;
    std::error_code ec;
    auto status = fs::symlink_status(link, ec);
    if (fs::exists(status)) {
        if (!fs::is_symlink(status)) return link + " exists and is not a symbolic link; not replaced";
        fs::remove(link, ec);
    }
    fs::create_symlink(target, link, ec);
    return ec ? "cannot make the link " + link + ": " + ec.message() : std::string();
}

void RemoveLink(const std::string& link, const std::string& target) {
    std::error_code ec;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(link, ec)) &&
        std::filesystem::read_symlink(link, ec) == target)
        std::filesystem::remove(link, ec);
}

}  // namespace pulsyn_sim

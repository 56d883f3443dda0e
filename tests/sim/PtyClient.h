// The client's end of a pseudo-terminal, as a host program would use it: opened raw, written
// to, and read with a deadline (never by sleeping).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>

class PtyClient {
public:
    explicit PtyClient(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return;
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        cfsetspeed(&tio, B38400);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~PtyClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool ok() const { return fd_ >= 0; }
    bool Send(std::string_view bytes) { return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()); }

    // Reads until `count` bytes have arrived, the line hangs up or the time is up; returns
    // what arrived. `closed` tells whether the line hung up.
    std::string Read(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        closed = false;
        while (got.size() < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() < 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) break;
            char buf[256];
            ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - got.size()));
            if (n > 0) {
                got.append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EAGAIN) {
                closed = true;
                break;
            }
        }
        return got;
    }
    // One request and its expected answer length: writes, then reads that many bytes.
    std::string Exchange(std::string_view bytes, size_t answer) {
        Send(bytes);
        return Read(answer);
    }

    bool closed = false;

private:
    int fd_ = -1;
};

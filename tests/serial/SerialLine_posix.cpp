#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

#include "SerialLine.h"

struct SerialLine::Impl {
    int master = -1;
    int slave = -1;  // held open so that the line stays up between openings of the port
    std::string name;
};

SerialLine::SerialLine() : impl(std::make_unique<Impl>()) {
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&impl->master, &impl->slave, nullptr, &raw, nullptr) != 0) throw std::runtime_error("openpty failed");
    impl->name = ttyname(impl->slave);
    fcntl(impl->master, F_SETFL, O_NONBLOCK);
}

SerialLine::~SerialLine() {
    if (impl->master >= 0) close(impl->master);
    close(impl->slave);
}

std::string SerialLine::PortName() const { return impl->name; }

void SerialLine::Send(const std::string& bytes) {
    if (write(impl->master, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("short write to the pty master");
}

std::string SerialLine::Receive(size_t count, std::chrono::milliseconds timeout) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{impl->master, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[256];
        const ssize_t n = read(impl->master, buf, std::min(sizeof buf, count - got.size()));
        if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

void SerialLine::HangUp() {
    close(impl->master);
    impl->master = -1;
}

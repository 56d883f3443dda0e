#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Net.h"

namespace pulsyn_sim::net {

namespace {
sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}
void NoDelay(int fd) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}
}  // namespace

Socket ListenLoopback(int port, int* bound, std::string* error) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + strerror(errno);
        return kNoSocket;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr = Loopback(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
        *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + strerror(errno);
        close(fd);
        return kNoSocket;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    *bound = ntohs(addr.sin_port);
    return fd;
}

Socket Accept(Socket listener) {
    for (;;) {
        int fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            NoDelay(fd);
            return fd;
        }
        if (errno != EINTR && errno != ECONNABORTED) return kNoSocket;
    }
}

Socket ConnectLoopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    sockaddr_in addr = Loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return kNoSocket;
    }
    NoDelay(fd);
    return fd;
}

long Receive(Socket s, char* buffer, size_t capacity) {
    for (;;) {
        ssize_t n = recv(static_cast<int>(s), buffer, capacity, 0);
        if (n >= 0 || errno != EINTR) return n;
    }
}

bool SendAll(Socket s, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(static_cast<int>(s), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void Shutdown(Socket s) { shutdown(static_cast<int>(s), SHUT_RDWR); }
void Close(Socket s) { close(static_cast<int>(s)); }

}  // namespace pulsyn_sim::net

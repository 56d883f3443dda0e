#include <winsock2.h>
#include <ws2tcpip.h>

#include "Net.h"

namespace pulsyn_sim::net {

namespace {
bool Started() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    return addr;
}
void NoDelay(SOCKET s) {
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}
}  // namespace

Socket ListenLoopback(int port, int* bound, std::string* error) {
    if (!Started()) {
        *error = "WSAStartup failed";
        return kNoSocket;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        *error = "socket: error " + std::to_string(WSAGetLastError());
        return kNoSocket;
    }
    BOOL exclusive = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    sockaddr_in addr = Loopback(port);
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 8) != 0) {
        *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": error " + std::to_string(WSAGetLastError());
        closesocket(s);
        return kNoSocket;
    }
    int len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    *bound = ntohs(addr.sin_port);
    return static_cast<Socket>(s);
}

Socket Accept(Socket listener) {
    SOCKET s = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return kNoSocket;
    NoDelay(s);
    return static_cast<Socket>(s);
}

Socket ConnectLoopback(int port) {
    if (!Started()) return kNoSocket;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSocket;
    sockaddr_in addr = Loopback(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        closesocket(s);
        return kNoSocket;
    }
    NoDelay(s);
    return static_cast<Socket>(s);
}

long Receive(Socket s, char* buffer, size_t capacity) {
    return recv(static_cast<SOCKET>(s), buffer, static_cast<int>(capacity), 0);
}

bool SendAll(Socket s, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        int n = send(static_cast<SOCKET>(s), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void Shutdown(Socket s) { shutdown(static_cast<SOCKET>(s), SD_BOTH); }
void Close(Socket s) { closesocket(static_cast<SOCKET>(s)); }

}  // namespace pulsyn_sim::net

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "SerialLine.h"

struct SerialLine::Impl {
    int port = 0;
    HANDLE peer = INVALID_HANDLE_VALUE;
};

namespace {
std::wstring ComName(int number) { return L"\\\\.\\COM" + std::to_wstring(number); }
}  // namespace

SerialLine::SerialLine() : impl(std::make_unique<Impl>()) {
    const char* ports = std::getenv("QUOR_TEST_PORTS");
    if (!ports) throw std::runtime_error("QUOR_TEST_PORTS is not set");
    impl->port = std::atoi(ports);
    const char* comma = std::strchr(ports, ',');
    const int farPort = comma ? std::atoi(comma + 1) : 0;
    impl->peer = CreateFileW(ComName(farPort).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (impl->peer == INVALID_HANDLE_VALUE) throw std::runtime_error("the far end of the test line does not open");
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(impl->peer, &dcb);
    dcb.BaudRate = 38400;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    SetCommState(impl->peer, &dcb);
    PurgeComm(impl->peer, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    // The line outlives a test: what an earlier test left unread must not reach this one.
    HANDLE port = CreateFileW(ComName(impl->port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port != INVALID_HANDLE_VALUE) {
        PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
        CloseHandle(port);
    }
}

SerialLine::~SerialLine() {
    if (impl->peer != INVALID_HANDLE_VALUE) CloseHandle(impl->peer);
}

std::string SerialLine::PortName() const {
    return "\\\\.\\COM" + std::to_string(impl->port);
}

void SerialLine::Send(const std::string& bytes) {
    DWORD n = 0;
    if (!WriteFile(impl->peer, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) || n != bytes.size())
        throw std::runtime_error("short write to the far end");
}

std::string SerialLine::Receive(size_t count, std::chrono::milliseconds timeout) {
    COMMTIMEOUTS t{};
    t.ReadTotalTimeoutConstant = static_cast<DWORD>(timeout.count());
    SetCommTimeouts(impl->peer, &t);
    std::string got(count, '\0');
    DWORD n = 0;
    ReadFile(impl->peer, got.data(), static_cast<DWORD>(count), &n, nullptr);
    got.resize(n);
    return got;
}

void SerialLine::HangUp() {
    const char* trigger = std::getenv("QUOR_TEST_HANGUP");
    if (!trigger) throw std::runtime_error("QUOR_TEST_HANGUP is not set");
    // The relay watches for this Unix file (drive Z: is the Unix root under Wine) and then
    // closes the master of the port under test.
    std::string path = std::string("Z:") + trigger;
    for (char& c : path)
        if (c == '/') c = '\\';
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create the hang-up trigger");
    CloseHandle(f);
    // The relay removes the file once it has hung up.
    for (int i = 0; i < 500 && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
}

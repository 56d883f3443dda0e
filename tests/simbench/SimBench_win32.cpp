// Windows bench: the simulators are processes that the test wrapper started (with-sims.sh);
// COM7 and COM12 are linked to device A's line, COM9 and COM3 to device B's, and each has a
// control socket on 127.0.0.1 whose port the wrapper passes in QUORLIB_TEST_SIM_A / _B.
#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include "SimBench.h"
#include "base/WideText.h"
#include "link/PortNames.h"

namespace bench {

namespace {

class RemoteDevice : public SimDevice {
public:
    explicit RemoteDevice(const char* variable) {
        const char* port = std::getenv(variable);
        if (!port) throw std::runtime_error(std::string(variable) + " is not set: run this test through with-sims.sh");
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        FSocket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot reach the simulator's control port");
    }

    std::vector<std::string> Frames() override { return StringArray(Command("frames"), "\"frames\":"); }
    void Reset() override {
        Expect("clear");
        Expect("limit delay=off duration=off interval=off count=off voltage=off step=off");
        Expect("reset");
    }
    void SetFault(const std::string& spec) override { Expect("fault " + spec); }
    void SetLimit(const std::string& quantity, double maxAbs) override {
        Expect("limit " + quantity + "=" + std::to_string(maxAbs));
    }
    bool WaitForIdle(std::chrono::milliseconds timeout) override {
        return Ok(Command("wait idle " + std::to_string(timeout.count())));
    }
    bool WaitForFrames(size_t count, std::chrono::milliseconds timeout) override {
        return Ok(Command("wait frames " + std::to_string(count) + " " + std::to_string(timeout.count())));
    }
    void Reopen() override { Expect("reopen"); }

private:
    static bool Ok(const std::string& reply) { return reply.find("\"ok\":true") != std::string::npos; }

    void Expect(const std::string& command) {
        const std::string reply = Command(command);
        if (!Ok(reply)) throw std::runtime_error("simulator refused \"" + command + "\": " + reply);
    }

    std::string Command(const std::string& command) {
        const std::string line = command + "\n";
        send(FSocket, line.data(), static_cast<int>(line.size()), 0);
        std::string reply;
        for (;;) {
            const size_t end = FPending.find('\n');
            if (end != std::string::npos) {
                reply = FPending.substr(0, end);
                FPending.erase(0, end + 1);
                return reply;
            }
            char buffer[4096];
            const int n = recv(FSocket, buffer, sizeof buffer, 0);
            if (n <= 0) throw std::runtime_error("the simulator's control port closed");
            FPending.append(buffer, n);
        }
    }

    // The strings of the JSON array that follows `key` in `json`.
    static std::vector<std::string> StringArray(const std::string& json, const std::string& key) {
        std::vector<std::string> items;
        size_t i = json.find(key);
        if (i == std::string::npos) throw std::runtime_error("unexpected simulator reply: " + json);
        i = json.find('[', i);
        while (i < json.size() && json[i] != ']') {
            if (json[i++] != '"') continue;
            std::string item;
            while (i < json.size() && json[i] != '"') {
                char c = json[i++];
                if (c == '\\' && i < json.size()) {
                    c = json[i++];
                    if (c == 'u' && i + 4 <= json.size()) {
                        c = static_cast<char>(std::strtol(json.substr(i, 4).c_str(), nullptr, 16));
                        i += 4;
                    } else if (c == 'n') {
                        c = '\n';
                    } else if (c == 'r') {
                        c = '\r';
                    } else if (c == 't') {
                        c = '\t';
                    }
                }
                item += c;
            }
            ++i;
            items.push_back(item);
        }
        return items;
    }

    SOCKET FSocket = INVALID_SOCKET;
    std::string FPending;
};

}  // namespace

SimDevice& DeviceA() {
    static RemoteDevice device("QUORLIB_TEST_SIM_A");
    return device;
}
SimDevice& DeviceB() {
    static RemoteDevice device("QUORLIB_TEST_SIM_B");
    return device;
}

void SetCandidatePorts(const std::vector<int>& ports) {
    quor::SetDosDeviceQueryForTesting([ports](const char* name, char* target, uint32_t size) -> uint32_t {
        for (int port : ports) {
            if (std::string(name) == "COM" + std::to_string(port)) {
                const char vcp[] = "\\Device\\VCP0\0";  // two terminating zeros, as the system stores them
                if (size < sizeof vcp) return 0;
                memcpy(target, vcp, sizeof vcp);
                return sizeof vcp;
            }
        }
        return 0;
    });
}

BusyPort::BusyPort(int port) {
    const std::wstring name = quor::ToWide(quor::PortDeviceName(port));
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot hold the port open");
    FHandle = handle;
    HANDLE second = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (second != INVALID_HANDLE_VALUE) {
        FExclusive = false;
        CloseHandle(second);
    }
}

BusyPort::~BusyPort() { CloseHandle(static_cast<HANDLE>(FHandle)); }

}  // namespace bench

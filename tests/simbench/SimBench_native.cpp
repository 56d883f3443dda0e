// Native bench: two simulators on pseudo-terminals inside the test program; port numbers
// reach them through the QUORLIB_COMn variables the device link reads.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "SimBench.h"
#include "Simulator.h"

namespace bench {

namespace {

class NativeDevice : public SimDevice {
public:
    NativeDevice() { FSim.Start(); }
    std::string Path() const { return FSim.ClientPath(); }
    std::vector<std::string> Frames() override { return FSim.Frames(); }
    void Reset() override {
        FSim.ClearFaults();
        for (auto q : {pulsyn_sim::Quantity::Delay, pulsyn_sim::Quantity::Duration, pulsyn_sim::Quantity::Interval,
                       pulsyn_sim::Quantity::Count, pulsyn_sim::Quantity::Voltage, pulsyn_sim::Quantity::Step})
            FSim.SetLimit(q, std::nullopt);
        FSim.Reset();
    }
    void SetFault(const std::string& spec) override {
        const std::string error = FSim.SetFault(spec);
        if (!error.empty()) throw std::runtime_error("simulator refused fault " + spec + ": " + error);
    }
    void SetLimit(const std::string& quantity, double maxAbs) override {
        if (quantity != "voltage") throw std::runtime_error("no limit for " + quantity);
        FSim.SetLimit(pulsyn_sim::Quantity::Voltage, maxAbs);
    }
    bool WaitForIdle(std::chrono::milliseconds timeout) override { return FSim.WaitForIdle(timeout); }
    bool WaitForFrames(size_t count, std::chrono::milliseconds timeout) override {
        return FSim.WaitForFrames(count, timeout);
    }
    void Reopen() override { FSim.Reopen(); }

private:
    pulsyn_sim::Simulator FSim;
};

NativeDevice& A() {
    static NativeDevice device;
    return device;
}
NativeDevice& B() {
    static NativeDevice device;
    return device;
}

void Point(int port, const std::string& path) {
    const std::string name = "QUORLIB_COM" + std::to_string(port);
    if (path.empty()) {
        unsetenv(name.c_str());
    } else {
        setenv(name.c_str(), path.c_str(), 1);
    }
}

}  // namespace

SimDevice& DeviceA() { return A(); }
SimDevice& DeviceB() { return B(); }

void SetCandidatePorts(const std::vector<int>& ports) {
    for (int port = 1; port <= 24; ++port) Point(port, "");
    for (int port : ports) {
        const bool onA = port == kPortA || port == kPortA2;
        const bool onB = port == kPortB || port == kPortB2;
        Point(port, onA ? A().Path() : onB ? B().Path() : "/nonexistent/port" + std::to_string(port));
    }
}

BusyPort::BusyPort(int port) {
    const char* path = std::getenv(("QUORLIB_COM" + std::to_string(port)).c_str());
    int fd = path ? open(path, O_RDWR | O_NOCTTY) : -1;
    if (fd < 0) throw std::runtime_error("cannot hold the port open");
    ioctl(fd, TIOCEXCL);
    flock(fd, LOCK_EX | LOCK_NB);
    FHandle = new int(fd);
}

BusyPort::~BusyPort() {
    int* fd = static_cast<int*>(FHandle);
    close(*fd);
    delete fd;
}

}  // namespace bench

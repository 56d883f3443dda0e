// Two simulated stimulators for the control object's tests, reachable through port numbers:
// device A answers on COM7 and COM12, device B on COM9 and COM3. Natively they run inside
// the test program on pseudo-terminals; under Wine they are simulator processes that the
// test wrapper started, with COM ports linked to their lines and a control socket each.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace bench {

constexpr int kPortA = 7;
constexpr int kPortA2 = 12;
constexpr int kPortB = 9;
constexpr int kPortB2 = 3;

class SimDevice {
public:
    virtual ~SimDevice() = default;
    // Command texts of the complete frames the device received, in order.
    virtual std::vector<std::string> Frames() = 0;
    // A fresh device: state, frames and transcript cleared, every fault off.
    virtual void Reset() = 0;
    // One fault as the simulator names it, e.g. "silence", "delay=200", "bad-length=0x03".
    virtual void SetFault(const std::string& spec) = 0;
    // A limit on the absolute value of a quantity ("voltage", ...), so well-formed values
    // are refused.
    virtual void SetLimit(const std::string& quantity, double maxAbs) = 0;
    // Everything received has been handled and every answer written.
    virtual bool WaitForIdle(std::chrono::milliseconds timeout) = 0;
    virtual bool WaitForFrames(size_t count, std::chrono::milliseconds timeout) = 0;
    // After a hang-up: the device's line is there again (its ports follow at the next
    // SetCandidatePorts).
    virtual void Reopen() = 0;
};

SimDevice& DeviceA();
SimDevice& DeviceB();

// Makes the port search see exactly these ports as USB virtual serial ports.
void SetCandidatePorts(const std::vector<int>& ports);

// Holds a port's device open elsewhere, as another program would, until destroyed.
class BusyPort {
public:
    explicit BusyPort(int port);
    ~BusyPort();
    BusyPort(const BusyPort&) = delete;
    BusyPort& operator=(const BusyPort&) = delete;
    // Whether the system keeps others out while the port is held (Wine does not).
    bool Exclusive() const { return FExclusive; }

private:
    bool FExclusive = true;
    void* FHandle;
};

}  // namespace bench

// The device's end of the serial line, one backend per platform: on POSIX a new
// pseudo-terminal pair (the simulator serves the master end, a client opens the other) or a
// named serial device; on Windows a COM port. Line settings are 38400 baud, 8N1, raw.
//
// One thread uses Open*, Read, Write and Close; Wake may be called from any thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace pulsyn_sim {

class Line {
public:
    virtual ~Line() = default;
    static std::unique_ptr<Line> Create();

    // Opens a new pseudo-terminal pair; returns the path a client opens. Throws
    // std::runtime_error (always on Windows, which has none).
    virtual std::string OpenPty() = 0;
    // Opens a serial device by name ("/dev/ttyUSB0", "COM5"); throws std::runtime_error.
    virtual void OpenDevice(const std::string& name) = 0;
    virtual bool IsOpen() const = 0;
    // Closing is what a client sees as the device hanging up.
    virtual void Close() = 0;
    // Before a hang-up: gives the client up to `limit` seconds to take what was written, so
    // that the bytes sent before the hang-up are not lost with it (a pseudo-terminal drops
    // unread input when its master end closes).
    virtual void LetClientRead(double limit) = 0;

    // Waits up to `timeout` seconds (negative: no limit) for input or Wake and returns the
    // count of bytes read (0 when none), or -1 when the line failed; it is closed then.
    // On a closed line it only waits.
    virtual long Read(char* buffer, size_t capacity, double timeout) = 0;
    // Writes all bytes; false when the line refused them within a second.
    virtual bool Write(std::string_view bytes) = 0;
    // Ends a running Read early.
    virtual void Wake() = 0;
    // Holds the client's output, or lets it go again, as the device's XOFF would: what the
    // client writes waits in its own output queue. Only a pseudo-terminal's device end can do
    // this; elsewhere it does nothing. Any thread, under the simulator's lock.
    virtual void HoldClientOutput(bool) {}
};

// A symbolic link at `link` to `target`, replacing an older symbolic link there (but never
// a file). Returns an error message, empty on success.
std::string MakeLink(const std::string& link, const std::string& target);
// Removes the link if it still points at `target`.
void RemoveLink(const std::string& link, const std::string& target);

}  // namespace pulsyn_sim

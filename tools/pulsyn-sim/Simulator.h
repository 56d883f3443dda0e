// The stimulator simulator as a running thing: it opens its end of a serial line (a new
// pseudo-terminal pair by default, or a named serial device) and serves it on its own thread
// until stopped. Everything here is thread-safe, so a test can drive the client end on its
// own thread while it watches the device and switches faults.
//
//   pulsyn_sim::Simulator sim;
//   sim.Start();
//   int fd = open(sim.ClientPath().c_str(), O_RDWR | O_NOCTTY);
//   write(fd, "=>0003Y3R", 9);               // the device answers "=<0003OK."
//   sim.WaitForFrames(1, 2s);
//   EXPECT_EQ(sim.Frames(), std::vector<std::string>{"Y3R"});
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "DeviceModel.h"
#include "Engine.h"
#include "Faults.h"
#include "Line.h"
#include "Transcript.h"

namespace pulsyn_sim {

struct Options {
    std::string device;           // serve this serial device instead of a new pty (Windows: required)
    std::string link;             // POSIX: keep a symbolic link here to the client end
    std::string path_file;        // write the client path here after every open
    std::string transcript_file;  // append every transcript line here as it happens
    Faults faults;
    Limits limits;
    double frame_timeout_ms = 1000;
    size_t transcript_keep = 100000;  // lines kept in memory (the file keeps all)
};

class Simulator {
public:
    using Duration = std::chrono::milliseconds;

    explicit Simulator(Options options = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the line and starts serving it. Throws std::runtime_error.
    void Start();
    // Stops serving, closes the line, removes the link. Also done by the destructor.
    void Stop();

    // The path a client opens (the pty's client end, or the device name).
    std::string ClientPath() const;
    // The line was closed by the hang-up fault (or lost) and not reopened since.
    bool HungUp() const;
    // Closes the line and opens a fresh one (a new pty pair, whose path differs); the link and
    // the path file follow. Returns the new client path. Throws std::runtime_error.
    std::string Reopen();

    // Observation.
    std::vector<std::string> Frames() const;  // texts of every complete frame received, in order
    size_t FrameCount() const;
    std::vector<TriggerRecord> Triggers() const;
    std::vector<std::string> Transcript() const;  // JSON lines
    DeviceModel Model() const;                    // a copy of the device's state
    // {"path":..,"hung_up":..,"frames":N,"paradigm":..,"paradigms":[..],"triggers":[..],
    //  "limits":{..},"faults":{..}}
    std::string StateJson() const;
    std::string FramesJson() const;      // ["Y3R","T4"]
    std::string TranscriptJson() const;  // [{...},{...}]
    // Seconds since the simulator was made: the clock of every time stamp.
    double Now() const;
    // One moment on that clock and on the system's clocks, so that another process can line
    // the time stamps up with its own: `monotonic` is the steady clock every process of the
    // machine reads (CLOCK_MONOTONIC on Linux, Python's time.monotonic()), `wall` the seconds
    // since 1970 (a script's Date). A stamp s is at monotonic + (s - t).
    struct ClockReading {
        double t, monotonic, wall;
    };
    ClockReading ReadClock() const;

    // Faults and limits, at any time.
    Faults GetFaults() const;
    void SetFaults(const Faults& faults);
    // Applies one "name[=value]" fault text; returns an error message, empty when applied.
    std::string SetFault(std::string_view spec);
    // A healthy device again: every fault off (prompt answer on, pacing off).
    void ClearFaults();
    Limits GetLimits() const;
    void SetLimit(Quantity quantity, std::optional<double> max_abs);

    // Power-cycles the device: model, frames, triggers, transcript and pending bytes cleared.
    void Reset();

    // Waits until at least n frames (n triggers) have been received since the start or the
    // last Reset; false on time-out or when the simulator stops meanwhile.
    bool WaitForFrames(size_t n, Duration timeout);
    bool WaitForTriggers(size_t n, Duration timeout);
    // Waits until everything received so far has been handled and everything the device had
    // to send is written, with no input waiting on the line; false on time-out.
    bool WaitForIdle(Duration timeout);

private:
    void Run();
    // Under mu_: holds or releases the client's output as the hold and stall faults want now.
    void ApplyHold();
    std::string OpenLine();  // under mu_; returns the client path
    void CloseLine();        // under mu_

    Options options_;
    const std::chrono::steady_clock::time_point epoch_;
    std::unique_ptr<Line> line_;

    mutable std::mutex mu_;
    std::condition_variable changed_;
    pulsyn_sim::Transcript transcript_;
    Engine engine_;
    std::string path_;
    bool hung_up_ = false;
    bool held_ = false;       // the client's output is held
    double stall_until_ = 0;  // the stall fault holds the line until then
    bool stopping_ = false;
    bool running_ = false;
    bool reopen_requested_ = false;
    uint64_t reopens_done_ = 0;
    std::string reopen_error_;
    uint64_t idle_requested_ = 0;
    uint64_t idle_served_ = 0;
    std::thread thread_;
};

// Writes the text to a file so that a reader never sees it half-written.
bool WriteFileAtomically(const std::string& path, const std::string& text);

}  // namespace pulsyn_sim

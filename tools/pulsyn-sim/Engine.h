// The device's side of the line without any I/O: it takes the bytes read from the line with
// their time, cuts them into prompt bytes and command frames, runs the commands on the device
// model, and schedules what the device sends back (shaped by the faults) as bytes with the time
// each is due. Whoever drives it reads the line, calls Receive, calls Advance when something is
// due and writes what Advance returns. Times are seconds on one monotonic clock.
//
// Wire format, device side:
//   host -> device  "="                          prompt byte; answered with "=" (unless echo is off)
//   host -> device  ">" NNNN text                command frame, NNNN = byte count of text
//   device -> host  "<" NNNN payload             reply, sent only when the text ends in "R"
// Anything else that arrives is logged and skipped. A frame that stops arriving part-way is
// dropped after the frame time-out.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DeviceModel.h"
#include "Faults.h"
#include "Transcript.h"

namespace pulsyn_sim {

// Cuts the received byte stream into prompts, frames and skipped bytes.
class FrameParser {
public:
    struct Event {
        enum class Kind { Prompt, Frame, Skipped } kind;
        std::string bytes;  // the frame's text, or the skipped bytes
        std::string why;    // for skipped bytes
    };

    void Feed(char byte, std::vector<Event>& out);
    // Reports the run of skipped bytes collected so far.
    void Flush(std::vector<Event>& out);
    // Drops a frame that is only partly received.
    void Abandon(std::vector<Event>& out);
    bool MidFrame() const { return state_ != State::Idle; }
    void Reset() { *this = FrameParser(); }

private:
    enum class State { Idle, Header, Body };
    State state_ = State::Idle;
    std::string header_;
    std::string body_;
    size_t length_ = 0;
    std::string skipped_;
};

struct EngineSettings {
    double frame_timeout = 1.0;  // seconds without a byte before a partial frame is dropped; 0: never
};

class Engine {
public:
    Engine(EngineSettings settings, Transcript& transcript);

    // Bytes read from the line at time t.
    void Receive(std::string_view bytes, double t);

    struct Output {
        std::string bytes;    // to write now, in order
        bool hangup = false;  // close the line after writing them
    };
    // Handles everything due by `now`.
    Output Advance(double now);
    // When Advance next has something to do; nullopt when nothing is pending.
    std::optional<double> NextDue() const;
    // Nothing received is unprocessed, no frame is half-read, nothing waits to be sent.
    bool Idle() const { return rx_.empty() && tx_.empty() && !parser_.MidFrame() && faults.stream_rate == 0; }

    // The line was closed (hang-up or loss): everything pending is dropped.
    void LineClosed(double t, std::string_view why);
    // A powered-off-and-on device: model, frames, transcript and pending bytes are cleared;
    // faults and limits stay.
    void Reset();

    DeviceModel model;
    Faults faults;
    // Every complete frame received, as its text, in order.
    std::vector<std::string> frames;

private:
    struct RxByte {
        double due;
        char byte;
    };
    struct TxByte {
        double due;
        int byte;  // -1: the hang-up point
    };

    void Handle(const FrameParser::Event& e, double t);
    void ScheduleEcho(double t);
    void ScheduleReply(const std::string& payload, double t);
    // Queues bytes; each piece starts no earlier than its time, bytes stay in order, and with
    // pacing each byte leaves one byte time after the one before it.
    void Queue(std::string_view bytes, double start);

    EngineSettings settings_;
    Transcript& transcript_;
    FrameParser parser_;
    std::deque<RxByte> rx_;
    std::deque<TxByte> tx_;
    double rx_tail_ = 0;       // arrival time of the last byte received
    double tx_tail_ = 0;       // departure time of the last byte queued
    double last_rx_due_ = 0;   // arrival of the last byte handed to the parser
    double stream_since_ = -1; // time up to which filler has been sent; -1: not streaming
    static constexpr double kStreamTick = 0.01;
};

}  // namespace pulsyn_sim

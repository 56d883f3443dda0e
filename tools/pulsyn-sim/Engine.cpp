#include "Engine.h"

#include <algorithm>

namespace pulsyn_sim {

using Kind = FrameParser::Event::Kind;

void FrameParser::Feed(char byte, std::vector<Event>& out) {
    switch (state_) {
        case State::Idle:
            if (byte == '=') {
                Flush(out);
                out.push_back({Kind::Prompt, "=", {}});
            } else if (byte == '>') {
                Flush(out);
                header_.clear();
                state_ = State::Header;
            } else {
                skipped_ += byte;
            }
            return;
        case State::Header:
            if (byte >= '0' && byte <= '9') {
                header_ += byte;
                if (header_.size() < 4) return;
                length_ = std::stoul(header_);
                body_.clear();
                if (length_ == 0) {
                    out.push_back({Kind::Frame, {}, {}});
                    state_ = State::Idle;
                } else {
                    state_ = State::Body;
                }
                return;
            }
            // Not a length: what came so far was no frame; the byte may begin a new one.
            out.push_back({Kind::Skipped, ">" + header_, "bad frame header"});
            state_ = State::Idle;
            Feed(byte, out);
            return;
        case State::Body:
            body_ += byte;
            if (body_.size() == length_) {
                out.push_back({Kind::Frame, body_, {}});
                state_ = State::Idle;
            }
            return;
    }
}

void FrameParser::Flush(std::vector<Event>& out) {
    if (skipped_.empty()) return;
    out.push_back({Kind::Skipped, skipped_, "not a frame"});
    skipped_.clear();
}

void FrameParser::Abandon(std::vector<Event>& out) {
    if (state_ == State::Idle) return;
    out.push_back({Kind::Skipped, ">" + header_ + body_, "incomplete frame"});
    state_ = State::Idle;
}

Engine::Engine(EngineSettings settings, Transcript& transcript)
    : settings_(settings), transcript_(transcript) {}

void Engine::Receive(std::string_view bytes, double t) {
    if (bytes.empty()) return;
    transcript_.Add(t, "rx", {{"bytes", json::Bytes(bytes)}});
    for (char c : bytes) {
        // On a paced line a byte has arrived only when its last bit has.
        double due = faults.pace ? std::max(t, rx_tail_) + kByteTime : std::max(t, rx_tail_);
        rx_.push_back({due, c});
        rx_tail_ = due;
    }
}

Engine::Output Engine::Advance(double now) {
    std::vector<FrameParser::Event> events;
    while (!rx_.empty() && rx_.front().due <= now) {
        RxByte b = rx_.front();
        rx_.pop_front();
        last_rx_due_ = b.due;
        parser_.Feed(b.byte, events);
        for (const auto& e : events) Handle(e, b.due);
        events.clear();
    }
    if (rx_.empty()) {
        parser_.Flush(events);
        if (parser_.MidFrame() && settings_.frame_timeout > 0 && now >= last_rx_due_ + settings_.frame_timeout)
            parser_.Abandon(events);
        for (const auto& e : events) Handle(e, now);
    }

    Output out;
    while (!tx_.empty() && tx_.front().due <= now) {
        TxByte b = tx_.front();
        tx_.pop_front();
        if (b.byte < 0) {
            out.hangup = true;
            break;
        }
        out.bytes += static_cast<char>(b.byte);
    }
    if (!out.bytes.empty()) transcript_.Add(now, "tx", {{"bytes", json::Bytes(out.bytes)}});
    if (faults.stream_rate > 0 && !out.hangup) {
        if (stream_since_ < 0) stream_since_ = now;
        const auto filler = static_cast<size_t>((now - stream_since_) * faults.stream_rate);
        out.bytes.append(filler, '~');
        stream_since_ += static_cast<double>(filler) / faults.stream_rate;
    } else {
        stream_since_ = -1;
    }
    if (out.hangup) {
        tx_.clear();
        faults.hangup_after.reset();  // fires once
    }
    return out;
}

std::optional<double> Engine::NextDue() const {
    std::optional<double> due;
    auto consider = [&](double t) { due = due ? std::min(*due, t) : t; };
    if (!rx_.empty()) consider(rx_.front().due);
    if (!tx_.empty()) consider(tx_.front().due);
    if (faults.stream_rate > 0) consider(stream_since_ < 0 ? 0 : stream_since_ + kStreamTick);
    if (rx_.empty() && parser_.MidFrame() && settings_.frame_timeout > 0)
        consider(last_rx_due_ + settings_.frame_timeout);
    return due;
}

void Engine::Handle(const FrameParser::Event& e, double t) {
    switch (e.kind) {
        case Kind::Prompt:
            transcript_.Add(t, "prompt");
            ScheduleEcho(t);
            return;
        case Kind::Skipped:
            transcript_.Add(t, "skip", {{"bytes", json::Bytes(e.bytes)}, {"why", e.why}});
            return;
        case Kind::Frame: {
            const std::string& cmd = e.bytes;
            frames.push_back(cmd);
            const bool reply = !cmd.empty() && cmd.back() == 'R';
            Outcome outcome = model.Execute(reply ? std::string_view(cmd).substr(0, cmd.size() - 1) : cmd, t);
            transcript_.Add(t, "frame",
                            {{"cmd", json::Bytes(cmd)}, {"reply", reply}, {"result", json::Bytes(outcome.payload)}});
            if (outcome.trigger)
                transcript_.Add(t, "trigger",
                                {{"channel", outcome.trigger->channel}, {"paradigm", outcome.trigger->paradigm}});
            if (reply || faults.answer_all) ScheduleReply(outcome.payload, t);
            return;
        }
    }
}

void Engine::ScheduleEcho(double t) {
    if (faults.silence || !faults.echo) {
        transcript_.Add(t, "silent", {{"cmd", "="}, {"why", faults.silence ? "silence" : "echo off"}});
        return;
    }
    Queue("=", t);
}

void Engine::ScheduleReply(const std::string& payload, double t) {
    if (faults.silence) {
        transcript_.Add(t, "silent", {{"cmd", json::Bytes(frames.back())}, {"why", "silence"}});
        return;
    }
    std::string length;
    if (faults.bad_length) {
        length = *faults.bad_length;
    } else {
        long n = std::max<long>(0, static_cast<long>(payload.size()) + faults.length_offset);
        length = std::to_string(n);
        if (length.size() < 4) length.insert(0, 4 - length.size(), '0');
    }
    std::string frame = "<" + length + payload;
    const bool hangup = faults.hangup_after.has_value();
    if (hangup) frame.resize(std::min<size_t>(frame.size(), static_cast<size_t>(*faults.hangup_after)));
    const std::string bytes = faults.noise + frame;

    const double start = t + faults.delay_ms / 1000.0;
    if (faults.split_size > 0) {
        for (size_t at = 0; at < bytes.size(); at += faults.split_size)
            Queue(std::string_view(bytes).substr(at, faults.split_size),
                  at == 0 ? start : tx_tail_ + faults.split_gap_ms / 1000.0);
    } else {
        Queue(bytes, start);
    }
    if (hangup) {
        tx_tail_ = std::max(tx_tail_, start);
        tx_.push_back({tx_tail_, -1});
    }
}

void Engine::Queue(std::string_view bytes, double start) {
    double due = std::max(start, tx_tail_);
    for (char c : bytes) {
        if (faults.pace) due += kByteTime;
        tx_.push_back({due, static_cast<unsigned char>(c)});
    }
    tx_tail_ = due;
}

void Engine::LineClosed(double t, std::string_view why) {
    rx_.clear();
    tx_.clear();
    parser_.Reset();
    transcript_.Add(t, "hangup", {{"why", why}});
}

void Engine::Reset() {
    model.Reset();
    frames.clear();
    transcript_.Clear();
    rx_.clear();
    tx_.clear();
    parser_.Reset();
}

}  // namespace pulsyn_sim

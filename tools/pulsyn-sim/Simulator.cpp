#include "Simulator.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "Json.h"

namespace pulsyn_sim {

bool WriteFileAtomically(const std::string& path, const std::string& text) {
    std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) return false;
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    return !ec;
}

Simulator::Simulator(Options options)
    : options_(std::move(options)),
      epoch_(std::chrono::steady_clock::now()),
      line_(Line::Create()),
      transcript_(options_.transcript_keep),
      engine_(EngineSettings{options_.frame_timeout_ms / 1000.0}, transcript_) {
    engine_.faults = options_.faults;
    engine_.model.limits = options_.limits;
    if (!options_.transcript_file.empty() && !transcript_.OpenFile(options_.transcript_file))
        throw std::runtime_error("cannot write the transcript to " + options_.transcript_file);
}

Simulator::~Simulator() { Stop(); }

double Simulator::Now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - epoch_).count();
}

Simulator::ClockReading Simulator::ReadClock() const {
    using Seconds = std::chrono::duration<double>;
    const auto steady = std::chrono::steady_clock::now();
    const auto wall = std::chrono::system_clock::now();
    return {Seconds(steady - epoch_).count(), Seconds(steady.time_since_epoch()).count(),
            Seconds(wall.time_since_epoch()).count()};
}

std::string Simulator::OpenLine() {
    std::string path;
    if (options_.device.empty()) {
        path = line_->OpenPty();
    } else {
        line_->OpenDevice(options_.device);
        path = options_.device;
    }
    if (!options_.link.empty()) {
        std::string error = MakeLink(options_.link, path);
        if (!error.empty()) {
            line_->Close();
            throw std::runtime_error(error);
        }
    }
    if (!options_.path_file.empty() && !WriteFileAtomically(options_.path_file, path + "\n")) {
        line_->Close();
        throw std::runtime_error("cannot write " + options_.path_file);
    }
    path_ = path;
    hung_up_ = false;
    held_ = false;
    ApplyHold();
    transcript_.Add(Now(), "open", {{"path", json::Bytes(path)}});
    return path;
}

void Simulator::ApplyHold() {
    const bool wanted = engine_.faults.hold || (engine_.faults.stall_ms > 0 && Now() < stall_until_);
    if (wanted == held_) return;
    line_->HoldClientOutput(wanted);
    held_ = wanted;
}

void Simulator::CloseLine() {
    line_->Close();
    if (!options_.link.empty()) RemoveLink(options_.link, path_);
}

void Simulator::Start() {
    std::lock_guard<std::mutex> lock(mu_);
    if (running_) return;
    OpenLine();
    stopping_ = false;
    running_ = true;
    thread_ = std::thread([this] { Run(); });
}

void Simulator::Stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
        running_ = false;
    }
    line_->Wake();
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mu_);
    CloseLine();
    changed_.notify_all();
}

void Simulator::Run() {
    std::vector<char> buffer(4096);
    for (;;) {
        Engine::Output out;
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (stopping_) break;
            if (reopen_requested_) {
                reopen_requested_ = false;
                reopen_error_.clear();
                try {
                    CloseLine();
                    engine_.LineClosed(Now(), "reopen");
                    OpenLine();
                } catch (const std::exception& e) {
                    reopen_error_ = e.what();
                    hung_up_ = true;
                }
                ++reopens_done_;
                changed_.notify_all();
            }
            out = engine_.Advance(Now());
            ApplyHold();
        }
        // Writing happens outside the lock: a client that does not read must not block the
        // test thread that is looking at the state.
        bool written = out.bytes.empty() || line_->Write(out.bytes);
        if (out.hangup) line_->LetClientRead(0.25);

        double wait = -1;
        bool check_idle = false;
        uint64_t idle_ticket = 0;
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (!written)
                transcript_.Add(Now(), "note", {{"text", "write failed: nobody reads the line"}});
            if (out.hangup) {
                line_->Close();
                hung_up_ = true;
                engine_.LineClosed(Now(), "fault");
            }
            changed_.notify_all();
            if (auto due = engine_.NextDue()) wait = std::max(0.0, *due - Now());
            if (held_ && !engine_.faults.hold) {
                const double release = std::max(0.0, stall_until_ - Now());
                wait = wait < 0 ? release : std::min(wait, release);
            }
            if (engine_.Idle() && idle_requested_ > idle_served_) {
                check_idle = true;
                idle_ticket = idle_requested_;
                wait = 0;
            }
        }
        long n = line_->Read(buffer.data(), buffer.size(), wait);
        std::lock_guard<std::mutex> lock(mu_);
        if (n > 0) {
            const std::string_view bytes(buffer.data(), static_cast<size_t>(n));
            engine_.Receive(bytes, Now());
            // A prompt byte: the stall fault holds the line from now on.
            if (engine_.faults.stall_ms > 0 && bytes.find('=') != std::string_view::npos) {
                stall_until_ = Now() + engine_.faults.stall_ms / 1000.0;
                ApplyHold();
            }
        } else if (n < 0) {
            hung_up_ = true;
            engine_.LineClosed(Now(), "line lost");
        } else if (check_idle) {
            idle_served_ = idle_ticket;
            changed_.notify_all();
        }
    }
}

std::string Simulator::ClientPath() const {
    std::lock_guard<std::mutex> lock(mu_);
    return path_;
}

bool Simulator::HungUp() const {
    std::lock_guard<std::mutex> lock(mu_);
    return hung_up_;
}

std::string Simulator::Reopen() {
    std::unique_lock<std::mutex> lock(mu_);
    if (!running_) throw std::runtime_error("the simulator is not running");
    const uint64_t target = reopens_done_ + 1;
    reopen_requested_ = true;
    line_->Wake();
    changed_.wait(lock, [&] { return reopens_done_ >= target || stopping_; });
    if (!reopen_error_.empty()) throw std::runtime_error(reopen_error_);
    return path_;
}

std::vector<std::string> Simulator::Frames() const {
    std::lock_guard<std::mutex> lock(mu_);
    return engine_.frames;
}

size_t Simulator::FrameCount() const {
    std::lock_guard<std::mutex> lock(mu_);
    return engine_.frames.size();
}

std::vector<TriggerRecord> Simulator::Triggers() const {
    std::lock_guard<std::mutex> lock(mu_);
    return engine_.model.triggers;
}

std::vector<std::string> Simulator::Transcript() const {
    std::lock_guard<std::mutex> lock(mu_);
    return transcript_.Lines();
}

DeviceModel Simulator::Model() const {
    std::lock_guard<std::mutex> lock(mu_);
    return engine_.model;
}

std::string Simulator::StateJson() const {
    std::lock_guard<std::mutex> lock(mu_);
    json::Json out = {{"path", json::Bytes(path_)}, {"hung_up", hung_up_}, {"frames", engine_.frames.size()}};
    engine_.model.WriteFields(out);
    out["faults"] = engine_.faults.Json();
    return json::Text(out);
}

std::string Simulator::FramesJson() const {
    std::lock_guard<std::mutex> lock(mu_);
    json::Json frames = json::Json::array();
    for (const auto& frame : engine_.frames) frames.push_back(json::Bytes(frame));
    return json::Text(frames);
}

std::string Simulator::TranscriptJson() const {
    std::lock_guard<std::mutex> lock(mu_);
    // The lines are JSON already.
    std::string out = "[";
    for (const auto& line : transcript_.Lines()) out += (out.size() > 1 ? "," : "") + line;
    return out + "]";
}

Faults Simulator::GetFaults() const {
    std::lock_guard<std::mutex> lock(mu_);
    return engine_.faults;
}

void Simulator::SetFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(mu_);
    engine_.faults = faults;
    ApplyHold();
    transcript_.Add(Now(), "faults", {{"faults", faults.Json()}});
    line_->Wake();
}

std::string Simulator::SetFault(std::string_view spec) {
    std::lock_guard<std::mutex> lock(mu_);
    Faults faults = engine_.faults;
    std::string error = faults.Apply(spec);
    if (!error.empty()) return error;
    engine_.faults = faults;
    ApplyHold();
    transcript_.Add(Now(), "faults", {{"faults", faults.Json()}});
    line_->Wake();
    return {};
}

void Simulator::ClearFaults() { SetFaults(Faults{}); }

Limits Simulator::GetLimits() const {
    std::lock_guard<std::mutex> lock(mu_);
    return engine_.model.limits;
}

void Simulator::SetLimit(Quantity quantity, std::optional<double> max_abs) {
    std::lock_guard<std::mutex> lock(mu_);
    engine_.model.limits[quantity] = max_abs;
}

void Simulator::Reset() {
    std::lock_guard<std::mutex> lock(mu_);
    engine_.Reset();
    line_->Wake();
    changed_.notify_all();
}

bool Simulator::WaitForFrames(size_t n, Duration timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    changed_.wait_for(lock, timeout, [&] { return engine_.frames.size() >= n || stopping_; });
    return engine_.frames.size() >= n;
}

bool Simulator::WaitForTriggers(size_t n, Duration timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    changed_.wait_for(lock, timeout, [&] { return engine_.model.triggers.size() >= n || stopping_; });
    return engine_.model.triggers.size() >= n;
}

bool Simulator::WaitForIdle(Duration timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    if (!running_) return false;
    const uint64_t ticket = ++idle_requested_;
    line_->Wake();
    changed_.wait_for(lock, timeout, [&] { return idle_served_ >= ticket || stopping_; });
    return idle_served_ >= ticket;
}

}  // namespace pulsyn_sim

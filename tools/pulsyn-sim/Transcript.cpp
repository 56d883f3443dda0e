#include "Transcript.h"

namespace pulsyn_sim {

Transcript::~Transcript() {
    if (file_) std::fclose(file_);
}

json::ObjectWriter Transcript::Event(double t, const char* kind) {
    json::ObjectWriter w;
    w.Raw("t", json::Fixed(t, 6)).Str("ev", kind);
    return w;
}

void Transcript::Add(const json::ObjectWriter& event) {
    std::string line = event.Done();
    if (file_) {
        std::fputs(line.c_str(), file_);
        std::fputc('\n', file_);
        std::fflush(file_);
    }
    lines_.push_back(std::move(line));
    while (lines_.size() > keep_) {
        lines_.pop_front();
        ++dropped_;
    }
}

bool Transcript::OpenFile(const std::string& path) {
    if (file_) std::fclose(file_);
    file_ = std::fopen(path.c_str(), "ab");
    return file_ != nullptr;
}

void Transcript::Clear() {
    lines_.clear();
    dropped_ = 0;
}

}  // namespace pulsyn_sim

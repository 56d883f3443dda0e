#include "Transcript.h"

namespace pulsyn_sim {

Transcript::~Transcript() {
    if (file_) std::fclose(file_);
}

void Transcript::Add(double t, const char* kind, const json::Json& fields) {
    json::Json event = {{"t", json::Seconds(t)}, {"ev", kind}};
    event.update(fields);
    std::string line = json::Text(event);
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

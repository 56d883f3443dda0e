// The record of everything that happened on the device's side of the line, one JSON object per
// event, each with its time "t" in seconds since the simulator started and its kind "ev":
//
//   {"t":0.012001,"ev":"rx","bytes":"=>0003Y3R"}        bytes as read from the line
//   {"t":0.012001,"ev":"prompt"}                         a prompt byte
//   {"t":0.012001,"ev":"frame","cmd":"Y3R","reply":true,"result":"OK."}
//                                                        a complete frame, what the device made
//                                                        of it, and whether it answers
//   {"t":0.012001,"ev":"trigger","channel":4,"paradigm":3}
//   {"t":0.012001,"ev":"skip","bytes":"xy","why":"not a frame"}
//   {"t":0.012001,"ev":"silent","cmd":"Y3R","why":"silence"}  an answer held back by a fault
//   {"t":0.012002,"ev":"tx","bytes":"=<0003OK."}        bytes written to the line
//   {"t":0.020000,"ev":"hangup","why":"fault"}           the line was closed
//   {"t":0.020000,"ev":"open","path":"/dev/pts/4"}       a line was opened
//   {"t":0.025000,"ev":"faults","faults":{...}}          the faults were changed
//   {"t":0.030000,"ev":"note","text":"..."}              anything else worth knowing
#pragma once

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "Json.h"

namespace pulsyn_sim {

class Transcript {
public:
    explicit Transcript(size_t keep = 100000) : keep_(keep) {}
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Records an event: "t" and "ev", then the fields given.
    void Add(double t, const char* kind, const json::Json& fields = json::Json::object());

    // Also appends every line to this file as it happens (flushed line by line).
    bool OpenFile(const std::string& path);
    std::vector<std::string> Lines() const { return {lines_.begin(), lines_.end()}; }
    size_t dropped() const { return dropped_; }
    void Clear();

private:
    size_t keep_;
    std::deque<std::string> lines_;
    size_t dropped_ = 0;
    std::FILE* file_ = nullptr;
};

}  // namespace pulsyn_sim

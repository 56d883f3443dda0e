// The traffic log: every byte written to and read from the stimulator, one entry per write
// or read, in order. The monitor window shows it (sent entries red, received green) and
// saves it; without a window it is kept here.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quor {

struct TTrafficEntry {
    std::string Text;  // the whole entry: CR LF, time stamp, ":.....", the 8-bit text
    bool Sent;         // host to device (true) or device to host (false)
};

class TTrafficLog {
public:
    void Append(TTrafficEntry entry);
    void Clear();
    const std::vector<TTrafficEntry>& Entries() const { return FEntries; }
    // The log's text as one string, entries joined in order.
    std::string Text() const;
    // Called after each entry is appended (the window renders it); may be empty.
    std::function<void(const TTrafficEntry&)> OnAppend;
    // Called after the log is emptied.
    std::function<void()> OnClear;

private:
    std::vector<TTrafficEntry> FEntries;
};

}  // namespace quor

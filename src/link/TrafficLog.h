// The traffic log: every byte written to and read from the stimulator, one entry per write
// or read, in order. The monitor window shows it (sent entries red, received green) and
// saves it; the link keeps the entries too, within the same bound as the window's log, so
// that a session of days does not grow the process without end.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "link/MonitorText.h"

namespace quor {

struct TTrafficEntry {
    std::string Text;  // the whole entry: CR LF, time stamp, ":.....", the 8-bit text
    bool Sent;         // host to device (true) or device to host (false)
};

class TTrafficLog {
public:
    // How many characters of entries are kept; past it the oldest entries are removed, an
    // eighth of the capacity at a time, as in the window's log.
    static constexpr size_t kCapacity = 16u * 1024u * 1024u;

    void Append(TTrafficEntry entry);
    void Clear();
    const std::deque<TTrafficEntry>& Entries() const { return FEntries; }
    void SetCapacity(size_t characters) { FBudget.SetCapacity(characters); }  // tests use small ones
    // Called after each entry is appended (the window renders it); may be empty.
    std::function<void(const TTrafficEntry&)> OnAppend;
    // Called after the log is emptied.
    std::function<void()> OnClear;

private:
    std::deque<TTrafficEntry> FEntries;
    TLogBudget FBudget{kCapacity};
};

}  // namespace quor

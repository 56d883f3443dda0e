// The traffic log: every byte written to and read from the stimulator, one entry per write
// or read, in order. It is the one copy of the session's record: the monitor window shows
// its newest entries and saves it, and natively the headless monitor reads it too.
//
// A session runs for days, so the log keeps its newest entries within a memory budget that
// counts what the process really pays for them: the entries are packed, one after another,
// into blocks of memory allocated whole, and when the next block would not fit, the oldest
// blocks (and the entries in them) are released. An entry costs its bytes, its time stamp
// and six bytes of bookkeeping; the line break and the marker every entry has are not
// stored but put back when the entry is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

namespace quor {

struct TTrafficEntry {
    std::string Text;  // the whole entry: CR LF, time stamp, ":.....", the 8-bit text
    bool Sent;         // host to device (true) or device to host (false)
};

// The whole text of an entry: "\r\n" + Stamp + ":....." + Text.
std::string TrafficEntryText(std::string_view Stamp, std::string_view Text);

class TTrafficLog {
    struct TBlock;

public:
    // The memory the log's entries may take, in bytes; past it the oldest are removed.
    static constexpr size_t kDefaultBudget = 16u * 1024u * 1024u;

    TTrafficLog();
    ~TTrafficLog();
    TTrafficLog(const TTrafficLog&) = delete;
    TTrafficLog& operator=(const TTrafficLog&) = delete;

    // Appends the entry "\r\n" + Stamp + ":....." + Text.
    void Append(const std::string& Stamp, const std::string& Text, bool Sent);
    void Clear();

    // The entries held, oldest first, each made whole when read.
    class TEntries;
    TEntries Entries() const;
    size_t Size() const { return FCount; }
    // The memory the entries take now, as allocated (whole blocks), and the budget.
    size_t MemoryUsed() const { return FMemoryUsed; }
    size_t Budget() const { return FBudget; }
    // Tests use small budgets; a smaller budget takes effect with the next entry.
    void SetBudget(size_t Bytes);
    // Whether entries were removed to make room since the log began or was last cleared.
    bool Trimmed() const { return FTrimmed; }

    // Called after each entry is appended (the window shows it); may be empty.
    std::function<void(const TTrafficEntry&)> OnAppend;
    // Called after the log is emptied.
    std::function<void()> OnClear;

    // A position in the log; valid until the log changes (removing the oldest entries moves
    // every position).
    class TIterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = TTrafficEntry;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = TTrafficEntry;
        TTrafficEntry operator*() const;
        TIterator& operator++();
        bool operator==(const TIterator& other) const { return FBlock == other.FBlock && FAt == other.FAt; }
        bool operator!=(const TIterator& other) const { return !(*this == other); }

    private:
        friend class TTrafficLog;
        TIterator(const TTrafficLog* log, size_t block, size_t at) : FLog(log), FBlock(block), FAt(at) {}
        const TTrafficLog* FLog;
        size_t FBlock;  // index into the log's blocks
        size_t FAt;     // offset of the entry's record in its block
    };

    class TEntries {
    public:
        TIterator begin() const { return FLog->Begin(); }
        TIterator end() const { return FLog->End(); }
        size_t size() const { return FLog->FCount; }
        bool empty() const { return FLog->FCount == 0; }
        TTrafficEntry back() const { return FLog->Back(); }
        // Walks from the oldest entry: for tests and short logs.
        TTrafficEntry operator[](size_t index) const;

    private:
        friend class TTrafficLog;
        explicit TEntries(const TTrafficLog* log) : FLog(log) {}
        const TTrafficLog* FLog;
    };

private:
    TIterator Begin() const;
    TIterator End() const;
    TTrafficEntry Back() const;
    // A record as stored: its direction, time stamp and text, read in place.
    struct TRecord {
        bool Sent;
        std::string_view Stamp;
        std::string_view Text;
    };
    TRecord RecordAt(size_t block, size_t at) const;
    TTrafficEntry EntryAt(size_t block, size_t at) const;
    size_t RecordSize(size_t block, size_t at) const;
    size_t BlockBytes() const;
    void MakeRoom(size_t bytes);

    std::deque<TBlock> FBlocks;
    size_t FBudget = kDefaultBudget;
    size_t FMemoryUsed = 0;
    size_t FCount = 0;
    size_t FLastAt = 0;  // offset of the newest entry's record in the last block
    bool FTrimmed = false;
};

}  // namespace quor

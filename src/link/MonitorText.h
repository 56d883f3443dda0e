// What the monitor window shows for a log entry, and how full its log may get; shared by
// the Windows window and the headless log.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

namespace quor {

// An entry's line break, the CR LF every entry begins with.
constexpr const char* kEntryBreak = "\r\n";

// The character shown for a decoded character of an entry's text. Control characters
// (C0, DEL and the C1 range) would be taken by the log control or a document reader as
// line breaks, tabs, page breaks or nothing at all, so each is shown by a visible stand-in
// of one character: the Control Pictures symbol of a C0 byte or DEL (U+2400 to U+2421),
// the replacement character U+FFFD for the C1 range. Everything else is itself.
char32_t PrintableStandIn(char32_t c);

// Windows-1252, the 8-bit code page the headless log shows device bytes in (the usual
// system code page on Windows). Its five unassigned bytes map to the C1 controls of the
// same value, as Windows maps them.
char32_t Cp1252ToUnicode(unsigned char byte);

// The first line of a log whose oldest entries were removed to make room.
std::string TrimmedNotice(size_t capacity);

// Keeps a log within its capacity by removing its oldest entries in chunks of an eighth of
// the capacity, so a full log is trimmed now and then rather than on every entry.
class TLogBudget {
public:
    explicit TLogBudget(size_t capacity) : FCapacity(capacity) {}
    size_t Capacity() const { return FCapacity; }
    void SetCapacity(size_t capacity) { FCapacity = capacity; }

    // Before an entry of `incoming` characters is appended to a log now `used` characters
    // long: how many of the oldest entries to remove (0 when it fits), and how many
    // characters those entries have. Entries are removed from the accounting.
    struct TDrop {
        size_t Entries = 0;
        size_t Characters = 0;
    };
    TDrop MakeRoom(size_t used, size_t incoming);
    // Records the entry just appended, `length` characters long.
    void Appended(size_t length) { FLengths.push_back(length); FKept += length; }
    // The characters of the entries still in the log (the notice and anything the user
    // typed are not counted).
    size_t Kept() const { return FKept; }
    size_t Entries() const { return FLengths.size(); }
    void Clear() { FLengths.clear(); FKept = 0; }

private:
    size_t FCapacity;
    std::deque<size_t> FLengths;
    size_t FKept = 0;
};

}  // namespace quor

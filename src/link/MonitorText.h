// What the monitor shows and saves for the traffic log: the visible stand-ins of control
// bytes, the 8-bit code page of the headless log, the first lines that say entries are
// missing, and the Rich Text Format document of the log; shared by the Windows window and
// the headless log.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "link/TrafficLog.h"

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
std::string TrimmedNotice(size_t budgetBytes);
// The first line of the window when it does not show the log's older entries.
extern const char* const kOlderNotShownNotice;

// An entry's bytes as the characters the system's 8-bit code page gives them (UTF-16).
using TEntryDecoder = std::function<std::u16string(const std::string& bytes)>;
// Receives the document piece by piece; false stops the writing (the file refused it).
using TDocumentSink = std::function<bool(const std::string& piece)>;

// The entry split into its line break and the bytes after it.
struct TEntryParts {
    bool LineBreak;
    std::string Body;
};
TEntryParts SplitEntry(const std::string& text);

// Characters an entry takes on screen: its line break counts as one, as in the Windows
// control, and its body as many as it decodes to.
size_t ShownLength(const std::string& entryText, const TEntryDecoder& decode);

// Writes the entries [from, to) as a Rich Text Format document (code page 1252 declared,
// every other character as a Unicode escape), sent entries red and received green, each
// entry's line break a paragraph mark; `firstLine`, when not empty, comes before them in the
// ordinary text colour. Hands the document over in pieces of some tens of kilobytes, so
// that a long log is never held twice; false when the sink refused a piece.
bool WriteRtfDocument(TTrafficLog::TIterator from, TTrafficLog::TIterator to, const std::string& firstLine,
                      const TEntryDecoder& decode, const TDocumentSink& sink);

// The whole log as SaveSessionCommands writes it: the notice first when older entries
// were removed.
bool WriteLogDocument(const TTrafficLog& log, const TEntryDecoder& decode, const TDocumentSink& sink);

}  // namespace quor

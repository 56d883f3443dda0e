#include "MonitorText.h"

#include <cstdint>

namespace quor {

char32_t PrintableStandIn(char32_t c) {
    if (c < 0x20) return 0x2400 + c;        // NUL to US: U+2400 to U+241F
    if (c == 0x7F) return 0x2421;           // DEL
    if (c >= 0x80 && c < 0xA0) return 0xFFFD;  // C1 controls
    return c;
}

char32_t Cp1252ToUnicode(unsigned char byte) {
    static const char16_t k80to9F[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    if (byte >= 0x80 && byte < 0xA0) return k80to9F[byte - 0x80];
    return byte;  // ASCII and Latin-1 above 0x9F are the same code points
}

std::string TrimmedNotice(size_t budgetBytes) {
    return "(Older entries were removed: the log keeps its newest entries within " + std::to_string(budgetBytes) +
           " bytes of memory.)";
}

const char* const kOlderNotShownNotice = "(Older entries are not shown here; saving the log keeps them.)";

TEntryParts SplitEntry(const std::string& text) {
    if (text.compare(0, 2, kEntryBreak) == 0) return {true, text.substr(2)};
    return {false, text};
}

size_t ShownLength(const std::string& entryText, const TEntryDecoder& decode) {
    const TEntryParts parts = SplitEntry(entryText);
    return decode(parts.Body).size() + (parts.LineBreak ? 1 : 0);
}

namespace {

// Characters with a meaning of their own escaped, printable ASCII as it is, everything else
// (control characters through their stand-ins) as a Unicode escape with "?" for readers
// without Unicode.
void AppendRtfText(std::string& rtf, const std::u16string& text) {
    for (char16_t c : text) {
        const char32_t shown = PrintableStandIn(c);
        if (shown == '\\' || shown == '{' || shown == '}') {
            rtf += '\\';
            rtf += static_cast<char>(shown);
        } else if (shown >= 0x20 && shown < 0x7F) {
            rtf += static_cast<char>(shown);
        } else {
            rtf += "\\u" + std::to_string(static_cast<int16_t>(static_cast<uint16_t>(shown))) + "?";
        }
    }
}

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

constexpr size_t kPiece = 64 * 1024;

}  // namespace

bool WriteRtfDocument(TTrafficLog::TIterator from, TTrafficLog::TIterator to, const std::string& firstLine,
                      const TEntryDecoder& decode, const TDocumentSink& sink) {
    std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033"
        "{\\fonttbl{\\f0\\fswiss\\fcharset0 MS Sans Serif;}}\n"
        "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green128\\blue0;}\n"
        "\\viewkind4\\uc1\\pard\\f0\\fs16\\cf0 ";
    AppendRtfText(rtf, Ascii(firstLine));
    for (; from != to; ++from) {
        const TTrafficEntry entry = *from;
        const TEntryParts parts = SplitEntry(entry.Text);
        rtf += entry.Sent ? "\n\\cf1 " : "\n\\cf2 ";
        if (parts.LineBreak) rtf += "\\par ";
        AppendRtfText(rtf, decode(parts.Body));
        if (rtf.size() >= kPiece) {
            if (!sink(rtf)) return false;
            rtf.clear();
        }
    }
    rtf += "\\cf0\n}\n";
    return sink(rtf);
}

bool WriteLogDocument(const TTrafficLog& log, const TEntryDecoder& decode, const TDocumentSink& sink) {
    const TTrafficLog::TEntries entries = log.Entries();
    return WriteRtfDocument(entries.begin(), entries.end(), log.Trimmed() ? TrimmedNotice(log.Budget()) : "", decode,
                            sink);
}

}  // namespace quor

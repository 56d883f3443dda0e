#include "MonitorText.h"

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

std::string TrimmedNotice(size_t capacity) {
    return "(Older entries were removed: the log keeps its newest " + std::to_string(capacity) +
           " characters.)";
}

TLogBudget::TDrop TLogBudget::MakeRoom(size_t used, size_t incoming) {
    TDrop drop;
    if (used + incoming <= FCapacity) return drop;
    // Free an eighth of the capacity beyond what the entry needs, so that trimming (which
    // moves the whole remaining log in the control) happens once per many entries.
    const size_t excess = used + incoming - FCapacity;
    const size_t target = excess + FCapacity / 8;
    while (!FLengths.empty() && drop.Characters < target) {
        drop.Characters += FLengths.front();
        FKept -= FLengths.front();
        FLengths.pop_front();
        ++drop.Entries;
    }
    return drop;
}

}  // namespace quor

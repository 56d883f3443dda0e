// Reading a saved log back, as a user's program would: its text and the colour of each run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/TextConvert.h"

namespace monitor_test {

constexpr int32_t kAutoColour = -1;  // the reader's default text colour
constexpr int32_t kRed = 0xFF0000;
constexpr int32_t kGreen = 0x008000;

struct TRun {
    std::string Text;  // UTF-8; a paragraph break is "\n"
    int32_t Colour;    // 0xRRGGBB, or kAutoColour
    bool operator==(const TRun& other) const { return Text == other.Text && Colour == other.Colour; }
};

struct TReadBack {
    bool Ok = false;     // the reader took the file as a Rich Text Format document
    std::string Error;   // why not
    std::string Text;    // all runs joined
    std::vector<TRun> Runs;  // neighbouring characters of one colour form one run
};

// A small reader of our own, independent of the program's writer: groups, control words,
// hexadecimal and Unicode escapes, the colour table and \cf, for documents in code page
// 1252.
TReadBack ReadRtfIndependently(const std::string& document);

// The platform's own reader: on Windows the RichEdit control itself (EM_STREAMIN, then the
// colour of each character through EM_GETCHARFORMAT); elsewhere the reader above.
TReadBack ReadRtfFileWithPlatformReader(const std::string& path, bool withColours = true);

std::string ReadFile(const std::string& path);

using quor::AppendUtf8;  // the readers build UTF-8 text with the library's encoder

// Drops the empty paragraph some writers end a document with, and empty runs.
void TrimFinalParagraph(TReadBack& doc);

}  // namespace monitor_test

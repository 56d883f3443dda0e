#include "RtfRead.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace monitor_test {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void TrimFinalParagraph(TReadBack& doc) {
    while (!doc.Runs.empty()) {
        std::string& last = doc.Runs.back().Text;
        if (!last.empty() && last.back() == '\n') last.pop_back();
        if (!last.empty()) break;
        doc.Runs.pop_back();
    }
    doc.Text.clear();
    for (const TRun& run : doc.Runs) doc.Text += run.Text;
}

namespace {

char32_t FromCp1252(unsigned char b) {
    // Our own copy of the code page's upper half, so a wrong table in the program shows.
    static const char32_t upper[32] = {0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021,
                                       0x2C6,  0x2030, 0x160,  0x2039, 0x152,  0x8D,   0x17D,  0x8F,
                                       0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};
    return (b >= 0x80 && b < 0xA0) ? upper[b - 0x80] : b;
}

struct TState {
    int Colour = 0;       // index into the colour table
    int UnicodeSkip = 1;  // \ucN
    bool Skip = false;    // a destination whose text is not document text
    bool ColourTable = false;
};

class TReader {
public:
    explicit TReader(const std::string& text) : S(text) {}

    TReadBack Read() {
        TReadBack doc;
        size_t start = 0;
        while (start < S.size() && std::isspace(static_cast<unsigned char>(S[start]))) ++start;
        if (S.compare(start, 6, "{\\rtf1") != 0) return Fail(doc, "does not begin with {\\rtf1");
        P = start;
        std::vector<TState> stack;
        TState state;
        bool groupStart = false;
        bool ended = false;
        while (P < S.size()) {
            const char c = S[P];
            if (ended) {
                if (!std::isspace(static_cast<unsigned char>(c)) && c != '\0') return Fail(doc, "text after the document's end");
                ++P;
                continue;
            }
            if (c == '{') {
                stack.push_back(state);
                groupStart = true;
                ++P;
                continue;
            }
            if (c == '}') {
                if (stack.empty()) return Fail(doc, "unbalanced }");
                if (state.ColourTable) FinishColour();
                state = stack.back();
                stack.pop_back();
                if (stack.empty()) ended = true;
                ++P;
                continue;
            }
            const bool atGroupStart = groupStart;
            groupStart = false;
            if (c == '\r' || c == '\n') {
                ++P;
                continue;
            }
            if (c == '\\') {
                ++P;
                if (P >= S.size()) return Fail(doc, "ends inside a control word");
                const char d = S[P];
                if (std::isalpha(static_cast<unsigned char>(d))) {
                    std::string word;
                    while (P < S.size() && std::isalpha(static_cast<unsigned char>(S[P]))) word += S[P++];
                    bool hasParam = false;
                    long param = 0;
                    size_t digitsFrom = P;
                    if (P < S.size() && (S[P] == '-' || std::isdigit(static_cast<unsigned char>(S[P])))) {
                        ++P;
                        while (P < S.size() && std::isdigit(static_cast<unsigned char>(S[P]))) ++P;
                        param = std::strtol(S.substr(digitsFrom, P - digitsFrom).c_str(), nullptr, 10);
                        hasParam = true;
                    }
                    if (P < S.size() && S[P] == ' ') ++P;  // the delimiter belongs to the word
                    if (!Word(doc, state, word, hasParam, param, atGroupStart)) return doc;
                    continue;
                }
                ++P;
                switch (d) {
                    case '\\': case '{': case '}': Emit(doc, state, static_cast<unsigned char>(d)); break;
                    case '\'': {
                        if (P + 2 > S.size()) return Fail(doc, "short hexadecimal escape");
                        const std::string hex = S.substr(P, 2);
                        if (!std::isxdigit(static_cast<unsigned char>(hex[0])) || !std::isxdigit(static_cast<unsigned char>(hex[1])))
                            return Fail(doc, "bad hexadecimal escape");
                        P += 2;
                        if (PendingSkip > 0) { --PendingSkip; break; }
                        EmitChar(doc, state, FromCp1252(static_cast<unsigned char>(std::strtol(hex.c_str(), nullptr, 16))));
                        break;
                    }
                    case '*': state.Skip = true; break;
                    case '~': EmitChar(doc, state, 0xA0); break;
                    case '-': break;
                    case '_': EmitChar(doc, state, 0x2011); break;
                    case '\r': case '\n': EmitChar(doc, state, '\n'); break;
                    default: break;
                }
                continue;
            }
            ++P;
            if (state.ColourTable) {
                if (c == ';') FinishColour();
                continue;
            }
            Emit(doc, state, static_cast<unsigned char>(c));
        }
        if (!ended) return Fail(doc, "the document's group is not closed");
        doc.Ok = true;
        return doc;
    }

private:
    TReadBack& Fail(TReadBack& doc, const std::string& why) {
        doc.Ok = false;
        doc.Error = why + " (at byte " + std::to_string(P) + ")";
        return doc;
    }

    bool Word(TReadBack& doc, TState& state, const std::string& word, bool hasParam, long param, bool atGroupStart) {
        if (word == "ansicpg" && param != 1252) {
            Fail(doc, "code page " + std::to_string(param) + " is not one this reader knows");
            return false;
        }
        if (atGroupStart && (word == "fonttbl" || word == "stylesheet" || word == "info" || word == "pict" ||
                             word == "header" || word == "footer" || word == "generator")) {
            state.Skip = true;
        }
        if (atGroupStart && word == "colortbl") {
            state.ColourTable = true;
            state.Skip = true;
            Colours.clear();
            Red = Green = Blue = -1;
        }
        if (state.ColourTable) {
            if (word == "red") Red = param;
            if (word == "green") Green = param;
            if (word == "blue") Blue = param;
            return true;
        }
        if (word == "par" || word == "line") EmitChar(doc, state, '\n');
        else if (word == "tab") EmitChar(doc, state, '\t');
        else if (word == "cf") state.Colour = hasParam ? static_cast<int>(param) : 0;
        else if (word == "plain") state.Colour = 0;
        else if (word == "uc") state.UnicodeSkip = static_cast<int>(param);
        else if (word == "u") {
            EmitChar(doc, state, static_cast<char32_t>(param < 0 ? param + 65536 : param));
            PendingSkip = state.UnicodeSkip;
        }
        return true;
    }

    void FinishColour() {
        if (Red < 0 && Green < 0 && Blue < 0) {
            Colours.push_back(kAutoColour);
        } else {
            Colours.push_back(((Red < 0 ? 0 : Red) << 16) | ((Green < 0 ? 0 : Green) << 8) | (Blue < 0 ? 0 : Blue));
        }
        Red = Green = Blue = -1;
    }

    void Emit(TReadBack& doc, const TState& state, unsigned char byte) {
        if (PendingSkip > 0) {
            --PendingSkip;
            return;
        }
        EmitChar(doc, state, FromCp1252(byte));
    }

    void EmitChar(TReadBack& doc, const TState& state, char32_t c) {
        if (state.Skip) return;
        const int32_t colour = state.Colour > 0 && state.Colour < static_cast<int>(Colours.size())
                                   ? Colours[static_cast<size_t>(state.Colour)]
                                   : kAutoColour;
        if (doc.Runs.empty() || doc.Runs.back().Colour != colour) doc.Runs.push_back({"", colour});
        AppendUtf8(doc.Runs.back().Text, c);
        AppendUtf8(doc.Text, c);
    }

    const std::string& S;
    size_t P = 0;
    int PendingSkip = 0;
    std::vector<int32_t> Colours;
    long Red = -1, Green = -1, Blue = -1;
};

}  // namespace

TReadBack ReadRtfIndependently(const std::string& document) { return TReader(document).Read(); }

}  // namespace monitor_test

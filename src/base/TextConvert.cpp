#include "TextConvert.h"

#include <charconv>
#include <limits>

#include "Exceptions.h"

namespace quor {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
}  // namespace

std::string_view TrimControl(std::string_view text) {
    size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::optional<int32_t> ParseInt32(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return std::nullopt;
    return static_cast<int32_t>(value);
}

int32_t StrToInt(const std::string& text) {
    if (auto value = ParseInt32(text)) return *value;
    throw EConvertError(InvalidIntegerMessage(text));
}

std::optional<double> ParseFloat(std::string_view text) {
    text = TrimControl(text);
    // Validate the shape ourselves: std::from_chars would accept "inf", "nan" and hex forms.
    std::string clean;
    clean.reserve(text.size());
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    size_t digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) clean += text[i];
    if (i < text.size() && text[i] == '.') {
        clean += text[i++];
        for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) clean += text[i];
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        clean += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) clean += text[i++];
        size_t expDigits = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i, ++expDigits) clean += text[i];
        if (expDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    double value = 0;
    auto [end, ec] = std::from_chars(clean.data(), clean.data() + clean.size(), value);
    if (ec != std::errc() || end != clean.data() + clean.size()) return std::nullopt;
    return negative ? -value : value;
}

double StrToFloat(const std::string& text) {
    if (auto value = ParseFloat(text)) return *value;
    throw EConvertError(InvalidFloatMessage(text));
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i])) return false;
    }
    return true;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string utf8;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // a lone surrogate
        }
        AppendUtf8(utf8, c);
    }
    return utf8;
}

std::string Utf16ToUtf8(const char16_t* text) { return text ? Utf16ToUtf8(std::u16string_view(text)) : std::string(); }

std::string IntToDec(uint64_t value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), '0');
    return digits;
}

std::string IntToHex(uint64_t value) {
    char buffer[17];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
    (void)ec;
    std::string text(buffer, end);
    for (char& c : text) {
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

}  // namespace quor

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

// Conversions between text and numbers that never consult the host's locale: the device
// takes "." as its decimal point whatever the regional settings of the lab computer are.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quor {

// Removes leading and trailing characters of code 32 or less.
std::string_view TrimControl(std::string_view text);

// Decimal integer with an optional sign (leading blanks allowed); nullopt when the text
// is not one or does not fit in 32 bits.
std::optional<int32_t> ParseInt32(std::string_view text);
// As ParseInt32, but raises EConvertError "''%s'' is not a valid integer value".
int32_t StrToInt(const std::string& text);

// Decimal number: blanks around it, an optional sign, digits with an optional "." and
// further digits, then optionally "E" or "e", an optional sign and exponent digits.
// nullopt when the text is not such a number or its value is out of range.
std::optional<double> ParseFloat(std::string_view text);
// As ParseFloat, but raises EConvertError "'%s' is not a valid floating point value".
double StrToFloat(const std::string& text);

// Whether two texts are equal when ASCII letters are compared without regard to case.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Appends one Unicode code point in UTF-8.
void AppendUtf8(std::string& out, char32_t c);
// UTF-16 text as UTF-8; a lone surrogate becomes U+FFFD, and a NUL stays a zero byte.
std::string Utf16ToUtf8(std::u16string_view text);
// The same for text up to its terminating zero (a null pointer is empty).
std::string Utf16ToUtf8(const char16_t* text);

// Non-negative integer in decimal, zero-padded to at least `width` digits.
std::string IntToDec(uint64_t value, int width = 1);
// Non-negative integer in upper-case hexadecimal, at least one digit, no prefix.
std::string IntToHex(uint64_t value);

}  // namespace quor

#include "QuorClasses.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "base/Exceptions.h"
#include "base/TextConvert.h"

namespace quor {

namespace {

constexpr char kClearedMantissa[5] = {'F', 'F', 'F', 'F', '.'};

std::string MantissaText(const char (&mantissa)[5]) {
    const void* nul = std::memchr(mantissa, '\0', sizeof mantissa);
    size_t length = nul ? static_cast<const char*>(nul) - mantissa : sizeof mantissa;
    return std::string(mantissa, length);
}

std::string TrimmedChar(char c) { return std::string(TrimControl(std::string_view(&c, 1))); }

std::string ShortestScientific(double value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    (void)ec;
    return std::string(buffer, end);
}

[[noreturn]] void RaiseNoDeviceForm(double value) {
    throw EConvertError("'" + ShortestScientific(value) +
                        "' has no device number form: the stimulator takes 0 and magnitudes "
                        "from 1.000E-9 to 9.999E+9");
}

}  // namespace

std::string FourDigitScientific(double value) {
    if (!std::isfinite(value)) RaiseNoDeviceForm(value);
    // The shortest round-trip form, e.g. "-1.2345e+04": its digits are the decimal number
    // the caller wrote, so a tie such as 12345 rounds away from zero as written.
    std::string text = ShortestScientific(value);
    size_t pos = 0;
    bool negative = text[pos] == '-';
    if (negative) ++pos;
    std::string digits;
    for (; pos < text.size() && text[pos] != 'e'; ++pos) {
        if (text[pos] != '.') digits += text[pos];
    }
    int exponent = std::stoi(text.substr(pos + 1));

    if (digits.size() > 4) {
        bool roundUp = digits[4] >= '5';
        digits.resize(4);
        if (roundUp) {
            int i = 3;
            while (i >= 0 && digits[i] == '9') digits[i--] = '0';
            if (i >= 0) {
                ++digits[i];
            } else {
                digits = "1000";
                ++exponent;
            }
        }
    }
    digits.resize(4, '0');
    if (digits == "0000") exponent = 0;

    std::string result;
    result += negative && digits != "0000" ? '-' : '+';
    result += digits[0];
    result += '.';
    result += digits.substr(1);
    result += 'E';
    result += exponent < 0 ? '-' : '+';
    result += IntToDec(static_cast<uint64_t>(std::abs(exponent)), 3);
    return result;
}

TQuorValue::TQuorValue() : Mantisa{}, Sign('\0'), Exponent('\0'), ExponentSign('\0') { Clear(); }

void TQuorValue::Clear() {
    std::memcpy(Mantisa, kClearedMantissa, sizeof Mantisa);
    Exponent = 'F';
}

void TQuorValue::SetAsDouble(double value) {
    const std::string t = FourDigitScientific(value);  // T1..T11 are t[0]..t[10]
    if (t[8] != '0' || t[9] != '0') RaiseNoDeviceForm(value);
    const int k = t[10] - '0';
    const char sign = t[0], first = t[1], e = t[6], expSign = t[7];
    const std::string d = t.substr(3, 3);  // the three digits after the point
    std::string r;
    auto digit = [](int n) { return static_cast<char>('0' + n); };
    if (expSign == '+' && (k == 1 || k == 4 || k == 7)) {
        r = {sign, first, d[0], '.', d[1], d[2], e, expSign, digit(k - 1)};
    } else if (expSign == '+' && (k == 2 || k == 5 || k == 8)) {
        r = {sign, first, d[0], d[1], '.', d[2], e, expSign, digit(k - 2)};
    } else if (expSign == '-' && (k == 1 || k == 4)) {
        r = {sign, first, d[0], d[1], '.', d[2], e, expSign, digit(k + 2)};
    } else if (expSign == '-' && (k == 2 || k == 5)) {
        r = {sign, first, d[0], '.', d[1], d[2], e, expSign, digit(k + 1)};
    } else {
        r = t.substr(0, 8) + t[10];
    }
    SetPulsynValue(r);
}

void TQuorValue::SetPulsynValue(const std::string& text) {
    if (text.size() < 9) {
        throw EConvertError("'" + text + "' is not a device number: it needs nine characters, e.g. +25.00E-3");
    }
    Sign = text[0] == ' ' ? '+' : text[0];
    std::memcpy(Mantisa, text.data() + 1, sizeof Mantisa);
    ExponentSign = text[7];
    Exponent = text[8];
}

std::string TQuorValue::PulsynValue() const {
    const std::string m(TrimControl(MantissaText(Mantisa)));
    std::string result(1, Sign);
    result.append(5 - m.size(), '0');
    result += m;
    result += 'E';
    result += ExponentSign;
    result += Exponent;
    return result;
}

double TQuorValue::AsDouble() const {
    const char e = (Exponent == ' ' || Exponent == '0' || Exponent == 'F') ? '0' : Exponent;
    const std::string joined = TrimmedChar(Sign) + std::string(TrimControl(MantissaText(Mantisa))) + "E" +
                               TrimmedChar(ExponentSign) + e;
    return StrToFloat(joined);
}

double TQuorValue::AsDouble2() const {
    if (Exponent == 'F') return 0.0;
    if (Exponent == ' ' || Exponent == '0') {
        const double mantissa = StrToFloat(MantissaText(Mantisa));
        return Sign == '-' ? -mantissa : mantissa;
    }
    // Any other exponent reads exactly as AsDouble reads it.
    return AsDouble();
}

}  // namespace quor

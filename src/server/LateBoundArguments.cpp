#include "LateBoundArguments.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "base/Exceptions.h"
#include "base/TextConvert.h"

namespace quor {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The shortest text that reads back as the same double (1.5, 0.1, 3e+09).
std::string ShortestText(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-infinity" : "infinity";
    char text[40];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

// A long text is shown by its beginning.
std::string Quoted(const std::string& text) {
    constexpr size_t kShown = 40;
    if (text.size() <= kShown) return "\"" + text + "\"";
    size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // whole characters
    return "\"" + text.substr(0, cut) + "...\"";
}

// What was passed, as the message names it.
std::string Described(const TPassedArgument& passed, const TNumberFormat& format, bool textIsNumber) {
    using TKind = TPassedArgument::TKind;
    if (!passed.Shown.empty()) return passed.Shown;
    switch (passed.Kind) {
        case TKind::Integer: return std::to_string(passed.Integer);
        case TKind::Real: return passed.Exact.empty() ? ShortestText(passed.Real) : passed.Exact;
        case TKind::Text:
            if (textIsNumber) return "the text " + Quoted(passed.Text);
            return "the text " + Quoted(passed.Text) + " (text is taken only when it is one plain number, with \"" +
                   format.DecimalSeparator + "\" as the decimal separator and no digit grouping)";
        case TKind::Boolean: return std::string("the Boolean ") + (passed.Boolean ? "True" : "False");
        case TKind::Date: return "a date";
        case TKind::Empty: return "Empty (a variable that was never given a value: check its spelling)";
        case TKind::Null: return "Null";
        case TKind::Array: return "an array";
        case TKind::Object: return "an object";
        case TKind::Missing: return "nothing (the argument was left out)";
        case TKind::InvalidDecimal:
            return "an invalid decimal value (its scale is above 28 or its sign byte is not 0 or 128)";
        case TKind::Other: break;
    }
    return "a value of variant type " + std::to_string(passed.VariantType);
}

[[noreturn]] void Refuse(const std::string& parameter, const char* wanted, const TPassedArgument& passed,
                         const TNumberFormat& format, bool textIsNumber = false) {
    throw Exception("Type Error: " + parameter + " Parameter must be " + wanted + ", not " +
                    Described(passed, format, textIsNumber) + ".");
}

// Whether a Real is a whole number, judged by its exact digits where it came with them.
bool IsWholeReal(const TPassedArgument& passed) {
    if (!passed.Exact.empty()) return passed.Exact.find('.') == std::string::npos;
    return std::isfinite(passed.Real) && std::trunc(passed.Real) == passed.Real;
}

// The number an argument holds when it is one; raises for anything else.
double NumericValue(const std::string& parameter, const char* wanted, const TPassedArgument& passed,
                    const TNumberFormat& format) {
    using TKind = TPassedArgument::TKind;
    switch (passed.Kind) {
        case TKind::Integer: return static_cast<double>(passed.Integer);
        case TKind::Real: return passed.Real;
        case TKind::Text:
            if (const std::optional<double> value = ParsePlainNumber(passed.Text, format)) return *value;
            break;
        default: break;
    }
    Refuse(parameter, wanted, passed, format);
}

}  // namespace

TPassedArgument TPassedArgument::OfInteger(int64_t value) {
    TPassedArgument passed = Of(TKind::Integer);
    passed.Integer = value;
    return passed;
}

TPassedArgument TPassedArgument::OfReal(double value) {
    TPassedArgument passed = Of(TKind::Real);
    passed.Real = value;
    return passed;
}

TPassedArgument TPassedArgument::OfText(std::string utf8) {
    TPassedArgument passed = Of(TKind::Text);
    passed.Text = std::move(utf8);
    return passed;
}

TPassedArgument TPassedArgument::Of(TKind kind) {
    TPassedArgument passed;
    passed.Kind = kind;
    return passed;
}

std::optional<double> ParsePlainNumber(const std::string& text, const TNumberFormat& format) {
    const std::string& separator = format.DecimalSeparator;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && IsBlank(text[i])) ++i;
    std::string plain;  // the same number with "." as its decimal point
    if (i < n && (text[i] == '+' || text[i] == '-')) plain += text[i++];
    size_t digits = 0;
    for (; i < n && IsDigit(text[i]); ++i, ++digits) plain += text[i];
    if (!separator.empty() && text.compare(i, separator.size(), separator) == 0) {
        i += separator.size();
        plain += '.';
        for (; i < n && IsDigit(text[i]); ++i, ++digits) plain += text[i];
    }
    if (digits == 0) return std::nullopt;
    if (i < n && (text[i] == 'E' || text[i] == 'e')) {
        plain += text[i++];
        if (i < n && (text[i] == '+' || text[i] == '-')) plain += text[i++];
        size_t exponentDigits = 0;
        for (; i < n && IsDigit(text[i]); ++i, ++exponentDigits) plain += text[i];
        if (exponentDigits == 0) return std::nullopt;
    }
    while (i < n && IsBlank(text[i])) ++i;
    if (i != n) return std::nullopt;
    return ParseFloat(plain);  // nullopt when out of range
}

int32_t WholeNumberArgument(const std::string& parameter, const TPassedArgument& passed,
                            const TNumberFormat& format) {
    constexpr const char* kWanted = "a whole number";
    const double value = NumericValue(parameter, kWanted, passed, format);
    const bool whole = passed.Kind == TPassedArgument::TKind::Real ? IsWholeReal(passed)
                                                                    : std::isfinite(value) && std::trunc(value) == value;
    if (!whole) Refuse(parameter, kWanted, passed, format, true);
    const bool fits = passed.Kind == TPassedArgument::TKind::Integer
                          ? passed.Integer >= std::numeric_limits<int32_t>::min() &&
                                passed.Integer <= std::numeric_limits<int32_t>::max()
                          : value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max();
    if (!fits) {
        throw Exception("Range Error: " + parameter +
                        " Parameter must be a whole number from -2147483648 to 2147483647, not " +
                        Described(passed, format, true) + ".");
    }
    return passed.Kind == TPassedArgument::TKind::Integer ? static_cast<int32_t>(passed.Integer)
                                                          : static_cast<int32_t>(value);
}

double NumberArgument(const std::string& parameter, const TPassedArgument& passed, const TNumberFormat& format) {
    return NumericValue(parameter, "a number", passed, format);
}

void RequireTextArgument(const std::string& parameter, const TPassedArgument& passed) {
    if (passed.Kind != TPassedArgument::TKind::Text) Refuse(parameter, "text", passed, TNumberFormat{}, true);
}

bool BooleanArgument(const std::string& property, const TPassedArgument& passed) {
    if (passed.Kind == TPassedArgument::TKind::Boolean) return passed.Boolean;
    if (passed.Kind == TPassedArgument::TKind::Integer) return passed.Integer != 0;
    if (passed.Kind == TPassedArgument::TKind::Real && IsWholeReal(passed)) return passed.Real != 0;
    throw Exception("Type Error: " + property + " must be True or False, not " +
                    Described(passed, TNumberFormat{}, true) + ".");
}

namespace {
std::string Listed(const std::vector<std::string>& names) {
    std::string listed;
    for (const std::string& name : names) listed += (listed.empty() ? "" : ", ") + name;
    return listed;
}
}  // namespace

void RequireArgumentCount(const std::string& member, const std::vector<std::string>& parameters, size_t passed,
                          bool mayBeRead) {
    if (passed == parameters.size()) return;
    if (mayBeRead && passed == 0) throw Exception(MethodMisuseMessage(member, parameters));
    const size_t count = parameters.size();
    throw Exception(member + " takes " + std::to_string(count) + (count == 1 ? " argument" : " arguments") +
                    (count ? " (" + Listed(parameters) + ")" : "") + ", not " + std::to_string(passed) + ".");
}

std::string MethodMisuseMessage(const std::string& member, const std::vector<std::string>& parameters) {
    return member + " is a method: call it " +
           (parameters.empty() ? "without arguments." : "with its arguments (" + Listed(parameters) + ").");
}

}  // namespace quor

// The arguments a late-bound caller passes, taken only as the caller wrote them.
//
// A script engine hands every argument over as a variant, and the platform would coerce any
// of them to the parameter's type: True to -1, a date to its day count, Empty to 0, 1.5 to 2
// for a whole number, "2,5" to 25 where "," groups digits. Each of those would reach the
// stimulator as a value nobody wrote. Here each argument is judged by what it is before any
// conversion: a whole-number parameter (paradigm, channel, mode, shape, count) takes whole
// numbers, a value parameter (time, voltage) takes numbers, text is taken when it reads as
// exactly one plain number in the caller's regional settings, and everything else is
// refused with a message that names the parameter and what was passed. A file name must be
// text, Connected a Boolean (or a whole number), and a call must pass every parameter and
// no more (the platform would ignore an extra one: Trigger 1, 2 would fire channel 1).
//
// Portable: the caller describes the argument (TPassedArgument); the automation boundary
// makes that description from the variant.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quor {

// What the caller passed, as its variant type says.
struct TPassedArgument {
    enum class TKind {
        Integer,  // any integer type; also a currency or decimal value that is exactly whole
        Real,     // floating point, or a currency or decimal value with a fraction
        Text,
        Boolean,
        Date,
        Empty,    // a variable never assigned (a misspelt name, without Option Explicit)
        Null,
        Array,
        Object,   // also a JScript array or Date, which reach us as objects
        Missing,  // an argument left out
        Other,    // any other variant type (VariantType says which)
        InvalidDecimal,  // a decimal whose scale or sign byte no decimal can have
    };
    TKind Kind = TKind::Empty;
    int64_t Integer = 0;
    double Real = 0;
    std::string Text;  // UTF-8
    // Of a Real that came as exact digits a double cannot hold (a decimal): those digits
    // ("-1.0000000000000000000000000001", "1e21" written out), which decide whether it is
    // whole and name it; Real is then the nearest double. Empty for an exact double.
    std::string Exact;
    bool Boolean = false;
    int VariantType = 0;
    // How the caller's own language writes the value, where a message should show it so
    // (Python's Decimal('2.5')); empty: the message describes it by its kind.
    std::string Shown;

    static TPassedArgument OfInteger(int64_t value);
    static TPassedArgument OfReal(double value);
    static TPassedArgument OfText(std::string utf8);
    static TPassedArgument Of(TKind kind);
};

// How numbers are written where the caller lives: the decimal separator of its regional
// settings ("." in English, "," in German). A digit group separator ("," in English, "." in
// German) makes a text no plain number.
struct TNumberFormat {
    std::string DecimalSeparator = ".";
};

// The number a text holds when it is exactly one plain number in `format`: an optional sign,
// digits with at most one decimal separator, optionally an exponent (E, a sign, digits),
// blanks around it allowed; no group separator, no other character. nullopt otherwise.
std::optional<double> ParsePlainNumber(const std::string& text, const TNumberFormat& format);

// A whole-number parameter: the 32-bit number to pass on, or raises quor::Exception naming
// `parameter` and what was passed.
int32_t WholeNumberArgument(const std::string& parameter, const TPassedArgument& passed, const TNumberFormat& format);
// A value parameter: the number to pass on, or raises as above.
double NumberArgument(const std::string& parameter, const TPassedArgument& passed, const TNumberFormat& format);
// A text parameter (a file name) takes text only; raises as above for anything else.
void RequireTextArgument(const std::string& parameter, const TPassedArgument& passed);
// A Boolean property (Connected) takes True or False, or a whole number of any numeric type
// (any but 0 is True: MATLAB writes 0 and 1 as doubles); raises as above for anything else.
bool BooleanArgument(const std::string& property, const TPassedArgument& passed);
// The count of arguments a member takes, or raises naming the member and its parameters
// ("Trigger takes 1 argument (Channel), not 2."). A call that may be a read (VBScript's
// x = p.Trigger asks for the method or the property) without arguments, of a method that
// takes some, raises MethodMisuseMessage instead: the caller read the method like a property.
void RequireArgumentCount(const std::string& member, const std::vector<std::string>& parameters, size_t passed,
                          bool mayBeRead = false);
// What to do with a method used like a property: "Trigger is a method: call it with its
// arguments (Channel)." or "ClearParadigm is a method: call it without arguments."
std::string MethodMisuseMessage(const std::string& member, const std::vector<std::string>& parameters);

}  // namespace quor

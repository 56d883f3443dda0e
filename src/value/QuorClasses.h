// TQuorValue: one number in the stimulator's nine-character device number format,
//
//     sign, mantissa d.ddd | dd.dd | ddd.d, "E", exponent sign, one exponent digit
//
// e.g. +25.00E-3 is 0.025 and +3.999E+3 is 3999. Values keep four significant digits and
// engineering exponents; the decimal point is always ".", whatever the host's locale.
//
// Errors, in this component: a value without a device form, and a text that is no device
// number, raise EConvertError with the message the client reads.
#pragma once

#include <string>

namespace quor {

class TQuorValue {
public:
    // Positions 2 to 6 of the text; no terminator (a character of code 0 ends the text).
    char Mantisa[5];
    char Sign;
    char Exponent;
    char ExponentSign;

    // Create: a cleared value whose signs hold the character of code 0.
    TQuorValue();

    // Marks the value as holding no number ("FFFF." and exponent "F"); keeps both signs.
    void Clear();

    // Raises EConvertError "'%s' is not a valid floating point value" when the stored text
    // is not a number (a cleared value reads as FFFF.E0).
    double AsDouble() const;
    // Rounds to four significant digits, half away from zero. Raises EConvertError, and
    // stores nothing, for NaN, the infinities and numbers that round to a magnitude below
    // 1.000E-9 or above 9.999E+9: the device has a single exponent digit.
    void SetAsDouble(double value);

    std::string PulsynValue() const;
    // Stores the parts of a text of at least nine characters, unvalidated; a blank sign
    // becomes "+". Raises EConvertError for a shorter text.
    void SetPulsynValue(const std::string& text);

    // Like AsDouble, but a cleared value gives 0 and an exponent of blank or "0" reads the
    // mantissa alone.
    double AsDouble2() const;
};

// The eleven-character scientific form of the first conversion step, e.g. +1.235E+004:
// sign, four significant digits rounded half away from zero on the shortest decimal form
// that reads back as the same double, and a three-digit exponent. Raises EConvertError for
// NaN and the infinities.
std::string FourDigitScientific(double value);

}  // namespace quor

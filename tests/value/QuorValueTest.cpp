#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <locale>
#include <random>
#include <string>

#include "base/Exceptions.h"
#include "value/QuorClasses.h"

using quor::EConvertError;
using quor::TQuorValue;

namespace {

std::string Encode(double x) {
    TQuorValue v;
    v.SetAsDouble(x);
    return v.PulsynValue();
}

TQuorValue FromText(const std::string& text) {
    TQuorValue v;
    v.SetPulsynValue(text);
    return v;
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EConvertError& e) {
        return e.what();
    }
    return "(no error)";
}

struct Example {
    double x;
    const char* scientific;
    const char* device;
};

const Example kExamples[] = {
    {0.001, "+1.000E-003", "+1.000E-3"},   {0.0004, "+4.000E-004", "+400.0E-6"},
    {0.00004, "+4.000E-005", "+40.00E-6"}, {0.000004, "+4.000E-006", "+4.000E-6"},
    {0.05, "+5.000E-002", "+50.00E-3"},    {0.5, "+5.000E-001", "+500.0E-3"},
    {0.000001, "+1.000E-006", "+1.000E-6"}, {0.0000001, "+1.000E-007", "+1.000E-7"},
    {0, "+0.000E+000", "+0.000E+0"},       {1, "+1.000E+000", "+1.000E+0"},
    {-2.5, "-2.500E+000", "-2.500E+0"},    {25, "+2.500E+001", "+25.00E+0"},
    {450, "+4.500E+002", "+450.0E+0"},     {3999, "+3.999E+003", "+3.999E+3"},
    {12345, "+1.235E+004", "+12.35E+3"},   {12345678, "+1.235E+007", "+12.35E+6"},
    {2147483647, "+2.147E+009", "+2.147E+9"},
};

}  // namespace

TEST(DeviceNumber, WorkedExamplesGiveTheDocumentedTexts) {
    for (const Example& e : kExamples) {
        EXPECT_EQ(quor::FourDigitScientific(e.x), e.scientific) << e.x;
        EXPECT_EQ(Encode(e.x), e.device) << e.x;
    }
}

TEST(DeviceNumber, EveryExponentRegroupsToTheDocumentedShape) {
    // One number per exponent from -9 to +9: the device sees engineering exponents, except
    // -7 and -8 which stay as they are.
    const std::pair<double, const char*> cases[] = {
        {1.234e-9, "+1.234E-9"}, {1.234e-8, "+1.234E-8"}, {1.234e-7, "+1.234E-7"},
        {1.234e-6, "+1.234E-6"}, {1.234e-5, "+12.34E-6"}, {1.234e-4, "+123.4E-6"},
        {1.234e-3, "+1.234E-3"}, {1.234e-2, "+12.34E-3"}, {1.234e-1, "+123.4E-3"},
        {1.234e0, "+1.234E+0"},  {1.234e1, "+12.34E+0"},  {1.234e2, "+123.4E+0"},
        {1.234e3, "+1.234E+3"},  {1.234e4, "+12.34E+3"},  {1.234e5, "+123.4E+3"},
        {1.234e6, "+1.234E+6"},  {1.234e7, "+12.34E+6"},  {1.234e8, "+123.4E+6"},
        {1.234e9, "+1.234E+9"},  {-1.234e-5, "-12.34E-6"}, {-0.0004, "-400.0E-6"},
        {0.00000005, "+5.000E-8"},
    };
    for (const auto& [x, text] : cases) EXPECT_EQ(Encode(x), text) << x;
}

TEST(DeviceNumber, RoundsHalfAwayFromZeroOnTheWrittenDecimal) {
    EXPECT_EQ(Encode(12345), "+12.35E+3");
    EXPECT_EQ(Encode(-12345), "-12.35E+3");
    EXPECT_EQ(Encode(1.0625), "+1.063E+0");
    EXPECT_EQ(Encode(0.0012345), "+1.235E-3");
    EXPECT_EQ(Encode(0.0123456), "+12.35E-3");
    EXPECT_EQ(Encode(1.23449999), "+1.234E+0");
    // A carry moves the exponent before regrouping.
    EXPECT_EQ(Encode(9.9996), "+10.00E+0");
    EXPECT_EQ(Encode(999.96), "+1.000E+3");
    EXPECT_EQ(Encode(-99.995), "-100.0E+0");
    // Negative zero is not negative.
    EXPECT_EQ(Encode(-0.0), "+0.000E+0");
}

TEST(DeviceNumber, NumbersWithoutANineCharacterFormAreRefusedAndNothingIsStored) {
    const double refused[] = {std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(),
                              1e10, -1e10, 9.9995e9, 2e-10, -2e-10, 9.9994e-10,
                              std::numeric_limits<double>::denorm_min(), 1e300};
    for (double x : refused) {
        TQuorValue v;
        v.SetAsDouble(1);
        std::string message = ErrorOf([&] { v.SetAsDouble(x); });
        EXPECT_NE(message.find("has no device number form"), std::string::npos) << x << ": " << message;
        EXPECT_EQ(v.PulsynValue(), "+1.000E+0") << x;
    }
    EXPECT_EQ(ErrorOf([] { Encode(1e10); }),
              "'1e+10' has no device number form: the stimulator takes 0 and magnitudes from 1.000E-9 to 9.999E+9");
    // The extremes that still have a form.
    EXPECT_EQ(Encode(9.9994e9), "+9.999E+9");
    EXPECT_EQ(Encode(-9.9994e9), "-9.999E+9");
    EXPECT_EQ(Encode(9.9995e-10), "+1.000E-9");
}

TEST(DeviceNumber, NewValueIsClearedAndReadersDisagreeOnIt) {
    TQuorValue v;
    EXPECT_EQ(std::string(v.Mantisa, 5), "FFFF.");
    EXPECT_EQ(v.Exponent, 'F');
    EXPECT_EQ(v.Sign, '\0');
    EXPECT_EQ(v.ExponentSign, '\0');
    EXPECT_EQ(v.AsDouble2(), 0.0);
    EXPECT_EQ(ErrorOf([&] { v.AsDouble(); }), "'FFFF.E0' is not a valid floating point value");
}

TEST(DeviceNumber, ClearKeepsTheSigns) {
    TQuorValue v = FromText("-2.500E-3");
    v.Clear();
    EXPECT_EQ(std::string(v.Mantisa, 5), "FFFF.");
    EXPECT_EQ(v.Exponent, 'F');
    EXPECT_EQ(v.Sign, '-');
    EXPECT_EQ(v.ExponentSign, '-');
    EXPECT_EQ(v.AsDouble2(), 0.0);
}

TEST(DeviceNumber, WritingTextStoresItsPartsUnvalidated) {
    TQuorValue v = FromText("?ab.cdXyz-extra");
    EXPECT_EQ(v.Sign, '?');
    EXPECT_EQ(std::string(v.Mantisa, 5), "ab.cd");
    EXPECT_EQ(v.ExponentSign, 'y');
    EXPECT_EQ(v.Exponent, 'z');

    EXPECT_EQ(FromText(" 1.000E+0").PulsynValue(), "+1.000E+0");
    EXPECT_EQ(FromText("+ 25.0E+3").PulsynValue(), "+025.0E+3");
    EXPECT_EQ(FromText("+ 25.0E+3").AsDouble(), 25000.0);
    EXPECT_EQ(ErrorOf([] { FromText("+1.0E+0"); }),
              "'+1.0E+0' is not a device number: it needs nine characters, e.g. +25.00E-3");
}

TEST(DeviceNumber, ReadersOfWrittenText) {
    EXPECT_EQ(FromText("+25.00E-3").AsDouble(), 0.025);
    EXPECT_EQ(FromText("-2.500E+0").AsDouble(), -2.5);
    EXPECT_EQ(FromText("+3.999E+3").AsDouble(), 3999.0);
    EXPECT_EQ(FromText("+400.0E-6").AsDouble(), 0.0004);
    EXPECT_EQ(FromText("-2.500E+0").AsDouble2(), -2.5);
    EXPECT_EQ(FromText("+12.35E+3").AsDouble2(), 12350.0);
    EXPECT_EQ(FromText("+9z9z9EzF").AsDouble2(), 0.0);  // exponent F: no number
    // Exponent blank or 0: the mantissa alone, and the exponent sign is not read.
    EXPECT_EQ(FromText("-12.50E? ").AsDouble2(), -12.5);
    EXPECT_EQ(FromText("+12.50E?0").AsDouble2(), 12.5);
    EXPECT_EQ(FromText("+12.50E- ").AsDouble(), 12.5);
    EXPECT_THROW(FromText("+12.50E?0").AsDouble(), EConvertError);  // AsDouble reads the sign
    // A mantissa that stops at a character of code 0.
    EXPECT_EQ(FromText(std::string("+12\0xxE+3", 9)).AsDouble(), 12000.0);
    EXPECT_EQ(FromText(std::string("+12\0xxE+3", 9)).PulsynValue(), "+00012E+3");

    EXPECT_EQ(ErrorOf([] { FromText("+1,500E+3").AsDouble(); }), "'+1,500E+3' is not a valid floating point value");
    EXPECT_EQ(ErrorOf([] { FromText("+1,500E+0").AsDouble2(); }), "'1,500' is not a valid floating point value");
    EXPECT_EQ(ErrorOf([] { FromText("+1.500E+x").AsDouble2(); }), "'+1.500E+x' is not a valid floating point value");
}

TEST(DeviceNumber, ReadingBackGivesTheNumberToFourDigits) {
    TQuorValue v;
    v.SetAsDouble(12345678);
    EXPECT_EQ(v.AsDouble(), 12350000.0);
    EXPECT_EQ(v.AsDouble2(), 12350000.0);
    v.SetAsDouble(-0.000123456);
    EXPECT_EQ(v.PulsynValue(), "-123.5E-6");
    EXPECT_DOUBLE_EQ(v.AsDouble(), -0.0001235);
}

// Over doubles from the whole representable range: the text reads back as a number that
// encodes to the same text, and that number is the input to four significant digits.
TEST(DeviceNumber, RandomNumbersRoundTripThroughTheText) {
    std::mt19937_64 random(20261209);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::uniform_int_distribution<int> exponent(-9, 9);
    for (int i = 0; i < 200000; ++i) {
        double x = mantissa(random) * std::pow(10.0, exponent(random));
        if (random() & 1) x = -x;
        if (std::fabs(x) >= 9.9995e9 || std::fabs(x) < 9.9995e-10) continue;
        TQuorValue v;
        v.SetAsDouble(x);
        const std::string text = v.PulsynValue();
        ASSERT_EQ(text.size(), 9u) << x;
        const double back = v.AsDouble();
        ASSERT_EQ(Encode(back), text) << x;
        ASSERT_LE(std::fabs(back - x), std::fabs(x) * 5.0001e-4) << x << " -> " << text;
        ASSERT_EQ(std::signbit(back), std::signbit(x)) << x;
    }
}

// Arbitrary nine-byte texts: the readers refuse with EConvertError or answer, nothing else.
TEST(DeviceNumber, ArbitraryTextNeverBreaksTheReaders) {
    std::mt19937 random(7);
    const std::string alphabet = "+- .0123456789EeF\x01\xff";
    for (int i = 0; i < 100000; ++i) {
        std::string text(9 + random() % 3, ' ');
        for (char& c : text) c = (random() % 4 == 0) ? static_cast<char>(random()) : alphabet[random() % alphabet.size()];
        TQuorValue v = FromText(text);
        EXPECT_EQ(v.PulsynValue().size(), 9u);
        try { (void)v.AsDouble(); } catch (const EConvertError&) {}
        try { (void)v.AsDouble2(); } catch (const EConvertError&) {}
    }
}

// The host's regional settings must not change the decimal point in either direction.
TEST(DeviceNumber, CommaLocaleDoesNotChangeTheDecimalPoint) {
#ifdef _WIN32
    const char* comma_locales[] = {"German_Germany.1252", "de-DE", "German"};
#else
    const char* comma_locales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"};
#endif
    const char* chosen = nullptr;
    for (const char* name : comma_locales) {
        if (std::setlocale(LC_ALL, name)) {
            chosen = name;
            break;
        }
    }
    ASSERT_NE(chosen, nullptr) << "no locale with a decimal comma is installed (run scripts/setup.sh)";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",") << chosen;

    struct CommaPunct : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaPunct));

    EXPECT_EQ(Encode(0.025), "+25.00E-3");
    EXPECT_EQ(Encode(-1.0625), "-1.063E+0");
    EXPECT_EQ(FromText("+25.00E-3").AsDouble(), 0.025);
    EXPECT_EQ(FromText("-2.500E+0").AsDouble2(), -2.5);
    EXPECT_THROW(FromText("+2,500E+0").AsDouble(), EConvertError);

    std::locale::global(previous);
    std::setlocale(LC_ALL, "C");
}

// The arguments of a late-bound call: what each kind of parameter takes, and
// the message for everything they refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "base/Exceptions.h"
#include "server/LateBoundArguments.h"

namespace {

using quor::TNumberFormat;
using quor::TPassedArgument;
using TKind = TPassedArgument::TKind;

const TNumberFormat kEnglish{"."};
const TNumberFormat kGerman{","};

// The message a refusal raises; "(taken)" when nothing was refused.
std::string WholeRefusal(const TPassedArgument& passed, const TNumberFormat& format = kEnglish) {
    try {
        quor::WholeNumberArgument("Channel", passed, format);
    } catch (const quor::Exception& e) {
        return e.Message();
    }
    return "(taken)";
}
std::string NumberRefusal(const TPassedArgument& passed, const TNumberFormat& format = kEnglish) {
    try {
        quor::NumberArgument("Voltage", passed, format);
    } catch (const quor::Exception& e) {
        return e.Message();
    }
    return "(taken)";
}

TEST(LateBoundArgumentsTest, WholeNumberParametersTakeWholeNumbersOnly) {
    EXPECT_EQ(quor::WholeNumberArgument("Channel", TPassedArgument::OfInteger(7), kEnglish), 7);
    EXPECT_EQ(quor::WholeNumberArgument("Channel", TPassedArgument::OfInteger(-2147483648LL), kEnglish), INT32_MIN);
    // A real (or currency) that is exactly whole is that whole number.
    EXPECT_EQ(quor::WholeNumberArgument("Channel", TPassedArgument::OfReal(2.0), kEnglish), 2);
    EXPECT_EQ(quor::WholeNumberArgument("N", TPassedArgument::OfReal(-0.0), kEnglish), 0);
    EXPECT_EQ(quor::WholeNumberArgument("N", TPassedArgument::OfText(" 12 "), kEnglish), 12);
    EXPECT_EQ(quor::WholeNumberArgument("N", TPassedArgument::OfText("1E3"), kEnglish), 1000);

    EXPECT_EQ(WholeRefusal(TPassedArgument::OfReal(1.5)), "Type Error: Channel Parameter must be a whole number, not 1.5.");
    EXPECT_EQ(WholeRefusal(TPassedArgument::OfReal(2.0000000001)),
              "Type Error: Channel Parameter must be a whole number, not 2.0000000001.");
    // NaN names itself, not the number a conversion would make of it.
    EXPECT_EQ(WholeRefusal(TPassedArgument::OfReal(std::nan(""))),
              "Type Error: Channel Parameter must be a whole number, not NaN.");
    EXPECT_EQ(WholeRefusal(TPassedArgument::OfReal(-INFINITY)),
              "Type Error: Channel Parameter must be a whole number, not -infinity.");
    EXPECT_EQ(WholeRefusal(TPassedArgument::OfText("1.5")),
              "Type Error: Channel Parameter must be a whole number, not the text \"1.5\".");
    EXPECT_EQ(WholeRefusal(TPassedArgument::OfReal(3e9)),
              "Range Error: Channel Parameter must be a whole number from -2147483648 to 2147483647, not 3e+09.");
    // A decimal's own digits decide, not the double nearest to them.
    TPassedArgument decimal = TPassedArgument::OfReal(1.0);
    decimal.Exact = "1.0000000000000000000000000001";
    EXPECT_EQ(WholeRefusal(decimal),
              "Type Error: Channel Parameter must be a whole number, not 1.0000000000000000000000000001.");
    EXPECT_EQ(quor::NumberArgument("Voltage", decimal, kEnglish), 1.0);
    EXPECT_EQ(WholeRefusal(TPassedArgument::Of(TKind::InvalidDecimal)),
              "Type Error: Channel Parameter must be a whole number, not an invalid decimal value (its scale is above "
              "28 or its sign byte is not 0 or 128).");
    EXPECT_EQ(WholeRefusal(TPassedArgument::OfInteger(2147483648LL)),
              "Range Error: Channel Parameter must be a whole number from -2147483648 to 2147483647, not 2147483648.");
}

TEST(LateBoundArgumentsTest, ValueParametersTakeAnyNumber) {
    EXPECT_EQ(quor::NumberArgument("Voltage", TPassedArgument::OfReal(2.5), kEnglish), 2.5);
    EXPECT_EQ(quor::NumberArgument("Voltage", TPassedArgument::OfInteger(-3), kEnglish), -3.0);
    // NaN is a number; the conversion to the device's form refuses it later.
    EXPECT_TRUE(std::isnan(quor::NumberArgument("Voltage", TPassedArgument::OfReal(std::nan("")), kEnglish)));
}

TEST(LateBoundArgumentsTest, WhatIsNoNumberIsRefusedNamingTheParameterAndWhatWasPassed) {
    TPassedArgument yes = TPassedArgument::Of(TKind::Boolean);
    yes.Boolean = true;
    EXPECT_EQ(NumberRefusal(yes), "Type Error: Voltage Parameter must be a number, not the Boolean True.");
    EXPECT_EQ(WholeRefusal(TPassedArgument::Of(TKind::Boolean)),
              "Type Error: Channel Parameter must be a whole number, not the Boolean False.");
    EXPECT_EQ(NumberRefusal(TPassedArgument::Of(TKind::Date)), "Type Error: Voltage Parameter must be a number, not a date.");
    EXPECT_EQ(NumberRefusal(TPassedArgument::Of(TKind::Empty)),
              "Type Error: Voltage Parameter must be a number, not Empty (a variable that was never given a value: "
              "check its spelling).");
    EXPECT_EQ(NumberRefusal(TPassedArgument::Of(TKind::Null)), "Type Error: Voltage Parameter must be a number, not Null.");
    EXPECT_EQ(NumberRefusal(TPassedArgument::Of(TKind::Array)),
              "Type Error: Voltage Parameter must be a number, not an array.");
    EXPECT_EQ(WholeRefusal(TPassedArgument::Of(TKind::Object)),
              "Type Error: Channel Parameter must be a whole number, not an object.");
    EXPECT_EQ(NumberRefusal(TPassedArgument::Of(TKind::Missing)),
              "Type Error: Voltage Parameter must be a number, not nothing (the argument was left out).");
    TPassedArgument other = TPassedArgument::Of(TKind::Other);
    other.VariantType = 36;
    EXPECT_EQ(NumberRefusal(other), "Type Error: Voltage Parameter must be a number, not a value of variant type 36.");
}

TEST(LateBoundArgumentsTest, TextIsTakenOnlyAsOnePlainNumberOfTheCallersRegion) {
    EXPECT_EQ(quor::NumberArgument("Voltage", TPassedArgument::OfText("2.5"), kEnglish), 2.5);
    EXPECT_EQ(quor::NumberArgument("Voltage", TPassedArgument::OfText("2,5"), kGerman), 2.5);
    EXPECT_EQ(quor::NumberArgument("Voltage", TPassedArgument::OfText("-,5e-3"), kGerman), -0.0005);
    EXPECT_EQ(NumberRefusal(TPassedArgument::OfText("2,5")),
              "Type Error: Voltage Parameter must be a number, not the text \"2,5\" (text is taken only when it is one "
              "plain number, with \".\" as the decimal separator and no digit grouping).");
    EXPECT_EQ(NumberRefusal(TPassedArgument::OfText("2.5"), kGerman),
              "Type Error: Voltage Parameter must be a number, not the text \"2.5\" (text is taken only when it is one "
              "plain number, with \",\" as the decimal separator and no digit grouping).");
    for (const char* text : {"1,000", "1,000.5", "", " ", "+", "2.5V", "$2", "(2)", "0x10", "&H10", "2..5", "2.5.1",
                             "1e", "1e+", "inf", "NaN", "1 000", "2.5 3", "1e999", "\xC2\xA0" "2"}) {
        EXPECT_THROW(quor::NumberArgument("Voltage", TPassedArgument::OfText(text), kEnglish), quor::Exception)
            << '"' << text << '"';
    }
    // A long text is named by its beginning.
    const std::string shortened =
        "Type Error: Voltage Parameter must be a number, not the text \"" + std::string(40, 'x') + "...\" (";
    EXPECT_EQ(NumberRefusal(TPassedArgument::OfText(std::string(50, 'x'))).rfind(shortened, 0), 0u);
}

TEST(LateBoundArgumentsTest, FileNamesAreTextConnectedIsABooleanAndEveryParameterIsPassed) {
    EXPECT_NO_THROW(quor::RequireTextArgument("FileName", TPassedArgument::OfText("log.rtf")));
    try {
        quor::RequireTextArgument("FileName", TPassedArgument::OfInteger(5));
        ADD_FAILURE() << "a number was taken as a file name";
    } catch (const quor::Exception& e) {
        EXPECT_EQ(e.Message(), "Type Error: FileName Parameter must be text, not 5.");
    }
    TPassedArgument yes = TPassedArgument::Of(TKind::Boolean);
    yes.Boolean = true;
    // Any whole number is taken, any but 0 as True, whatever its type (MATLAB passes doubles).
    const struct {
        TPassedArgument passed;
        const char* refusal;  // nullptr: taken
        bool value;
    } connected[] = {
        {yes, nullptr, true},
        {TPassedArgument::OfInteger(1), nullptr, true},
        {TPassedArgument::OfInteger(0), nullptr, false},
        {TPassedArgument::OfReal(1.0), nullptr, true},
        {TPassedArgument::OfReal(0.0), nullptr, false},
        {TPassedArgument::OfReal(-0.0), nullptr, false},
        {TPassedArgument::OfReal(-2.0), nullptr, true},
        {TPassedArgument::OfText("True"), "the text \"True\"", false},
        {TPassedArgument::OfReal(0.5), "0.5", false},
        {TPassedArgument::OfReal(std::nan("")), "NaN", false},
        {TPassedArgument::Of(TKind::InvalidDecimal),
         "an invalid decimal value (its scale is above 28 or its sign byte is not 0 or 128)", false},
    };
    for (const auto& c : connected) {
        const std::string refusal = c.refusal ? c.refusal : "(taken)";
        try {
            EXPECT_EQ(quor::BooleanArgument("Connected", c.passed), c.value) << refusal;
            EXPECT_EQ(refusal, "(taken)");
        } catch (const quor::Exception& e) {
            EXPECT_EQ(e.Message(), "Type Error: Connected must be True or False, not " + refusal + ".");
        }
    }
    EXPECT_NO_THROW(quor::RequireArgumentCount("ClearParadigm", {}, 0));
    EXPECT_NO_THROW(quor::RequireArgumentCount("Connect", {}, 0, true));  // x = p.Connect
    struct Miscount {
        std::vector<std::string> parameters;
        size_t passed;
        bool mayBeRead;
        const char* message;
    };
    for (const Miscount& c : std::vector<Miscount>{
             {{"Channel", "Delay"}, 3, false, "SetChannelDelay takes 2 arguments (Channel, Delay), not 3."},
             {{"Channel", "Delay"}, 3, true, "SetChannelDelay takes 2 arguments (Channel, Delay), not 3."},
             {{"Channel", "Delay"}, 0, false, "SetChannelDelay takes 2 arguments (Channel, Delay), not 0."},
             {{"Channel", "Delay"}, 0, true, "SetChannelDelay is a method: call it with its arguments (Channel, Delay)."},
         }) {
        try {
            quor::RequireArgumentCount("SetChannelDelay", c.parameters, c.passed, c.mayBeRead);
            ADD_FAILURE() << c.message << " was not raised";
        } catch (const quor::Exception& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

}  // namespace

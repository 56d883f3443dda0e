#include <gtest/gtest.h>

#include <string>

#include "base/Exceptions.h"
#include "base/TextConvert.h"

using namespace quor;

TEST(IntegerText, AcceptsSignedDecimalsThatFitIn32Bits) {
    EXPECT_EQ(ParseInt32("0003"), 3);
    EXPECT_EQ(ParseInt32("-12"), -12);
    EXPECT_EQ(ParseInt32("+7"), 7);
    EXPECT_EQ(ParseInt32("  9"), 9);
    EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
    EXPECT_EQ(ParseInt32("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", " ", "-", "2147483648", "-2147483649", "99999999999999999999", "1 ", "0x1", "mands.txt", "1.0"})
        EXPECT_FALSE(ParseInt32(bad).has_value()) << bad;
}

TEST(IntegerText, RefusalNamesTheTextInDoubledQuotes) {
    try {
        StrToInt("mands.txt");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "''mands.txt'' is not a valid integer value");
    }
    try {
        StrToInt("");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'''' is not a valid integer value");
    }
}

TEST(FloatText, AcceptsDecimalNumbersWithOptionalExponent) {
    EXPECT_EQ(ParseFloat("+25.00E-3"), 0.025);
    EXPECT_EQ(ParseFloat(" -2.5 "), -2.5);
    EXPECT_EQ(ParseFloat(".5"), 0.5);
    EXPECT_EQ(ParseFloat("5."), 5.0);
    EXPECT_EQ(ParseFloat("1e3"), 1000.0);
    EXPECT_EQ(ParseFloat("400.0E-6"), 0.0004);
    for (const char* bad : {"", ".", "+", "1,5", "nan", "inf", "0x10", "1e", "1e+", "E5", "1.2.3", "--1", "1e999"})
        EXPECT_FALSE(ParseFloat(bad).has_value()) << bad;
}

TEST(FloatText, RefusalNamesTheTextInQuotes) {
    try {
        StrToFloat("FFFF.E0");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'FFFF.E0' is not a valid floating point value");
    }
}

TEST(NumberText, AsciiLettersCompareWithoutCase) {
    EXPECT_TRUE(EqualsIgnoringAsciiCase("com", "COM"));
    EXPECT_TRUE(EqualsIgnoringAsciiCase("RegServerPerUser", "REGSERVERPERUSER"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("COM", "COM7"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("CON", "COM"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("[", "{"));  // only letters fold
}

TEST(NumberText, DecimalAndHexForms) {
    EXPECT_EQ(IntToDec(12, 4), "0012");
    EXPECT_EQ(IntToDec(12345, 4), "12345");
    EXPECT_EQ(IntToDec(7), "7");
    EXPECT_EQ(IntToHex(9), "9");
    EXPECT_EQ(IntToHex(11), "B");
    EXPECT_EQ(IntToHex(12), "C");
    EXPECT_EQ(IntToHex(255), "FF");
}

TEST(UnicodeText, Utf16BecomesUtf8WithSurrogatePairsAndLoneOnesReplaced) {
    EXPECT_EQ(Utf16ToUtf8(u"C:\\data\\session.rtf"), "C:\\data\\session.rtf");
    EXPECT_EQ(Utf16ToUtf8(u"\u00e9\u20ac"), "\xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xf0\x9f\x98\x80");
    const char16_t lone[] = {0xD800, u'a', 0};
    EXPECT_EQ(Utf16ToUtf8(lone), "\xef\xbf\xbd" "a");
    EXPECT_EQ(Utf16ToUtf8(nullptr), "");
}

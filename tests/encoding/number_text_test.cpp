#include "encoding/number_text.h"

#include <gtest/gtest.h>

#include <cmath>

using encoding::Format;
using encoding::FormatSignificant;
using encoding::NumberOf;
using encoding::ReadsAsNumber;
using encoding::Val;

TEST(FormatValue, WritesFourIntegerDigitsAndThreeDecimals) {
    EXPECT_EQ(Format(0.0), "0000.000");
    EXPECT_EQ(Format(12.5), "0012.500");
    EXPECT_EQ(Format(-0.1), "-0000.100");
    EXPECT_EQ(Format(12345.6), "12345.600");
    EXPECT_EQ(Format(-12.5), "-0012.500");
    EXPECT_EQ(Format(9999.9995), "10000.000");
    EXPECT_EQ(Format(1e20), "100000000000000000000.000");
}

TEST(FormatValue, RoundsHalvesAwayFromZeroAfterFifteenDigits) {
    // 2.0005 and 0.0005 are stored just below the half; 15 significant digits restore it.
    EXPECT_EQ(Format(2.0005), "0002.001");
    EXPECT_EQ(Format(-0.0005), "-0000.001");
    EXPECT_EQ(Format(0.0005), "0000.001");
    EXPECT_EQ(Format(1.0004999), "0001.000");
    EXPECT_EQ(Format(12.3456), "0012.346");
    EXPECT_EQ(Format(0.1 + 0.2), "0000.300");
    EXPECT_EQ(Format(1599.999), "1599.999");
}

TEST(FormatValue, ResultThatRoundsToZeroCarriesNoMinus) {
    EXPECT_EQ(Format(-0.0004), "0000.000");
    EXPECT_EQ(Format(-0.0), "0000.000");
    EXPECT_EQ(Format(-1e-300), "0000.000");
}

TEST(FormatText, FormatsNumbersAndLeavesOtherTextsAlone) {
    EXPECT_EQ(Format("10"), "0010.000");
    EXPECT_EQ(Format("  -5\t"), "-0005.000");
    EXPECT_EQ(Format("+.5"), "0000.500");
    EXPECT_EQ(Format("5."), "0005.000");
    EXPECT_EQ(Format("1e3"), "1000.000");
    EXPECT_EQ(Format("1.5E-2"), "0000.015");
    EXPECT_EQ(Format("0500.00"), "0500.000");
    EXPECT_EQ(Format("2.0005"), "0002.001");
    EXPECT_EQ(Format("-0.0004"), "0000.000");
    EXPECT_EQ(Format("-0"), "0000.000");
    EXPECT_EQ(Format("12345"), "12345.000");
    for (const char* text : {"", " ", "abc", "1.2.3", "1e", "12a", "- 5", "1,5", "--1", ".", "e5",
                             "1e400", "0x10"}) {
        EXPECT_EQ(Format(text), text) << '"' << text << '"';
    }
}

TEST(FormatText, AgreesWithTheDoubleRoute) {
    // The digit route must give what formatting the text's double gives, also for long texts.
    for (const char* text :
         {"0.0005", "-2.0005", "9999.9995", "123456789012.3456", "1.23456789012345678901",
          "0.000499999999999999999", "0.00049999999999999", "1e-5", "999999999999999.5",
          "7.00049999999999999", "533.333", "1e-400"}) {
        EXPECT_EQ(Format(text), Format(*NumberOf(text))) << text;
    }
}

TEST(ReadingNumbers, NumberOfIsStrict) {
    EXPECT_EQ(NumberOf("533.333"), 533.333);
    EXPECT_EQ(NumberOf(" \t-12.5e1 "), -125.0);
    EXPECT_EQ(NumberOf("1e-400"), 0.0);
    EXPECT_FALSE(NumberOf(""));
    EXPECT_FALSE(NumberOf("12 mm"));
    EXPECT_FALSE(NumberOf("1e400"));
    EXPECT_FALSE(NumberOf("1 2"));
    EXPECT_TRUE(ReadsAsNumber("007"));
    EXPECT_FALSE(ReadsAsNumber("\n7"));
}

TEST(ReadingNumbers, ValTakesTheLeadingNumber) {
    EXPECT_EQ(Val("20"), 20.0);
    EXPECT_EQ(Val("  12.5mm"), 12.5);
    EXPECT_EQ(Val("\t-3e2x"), -300.0);
    EXPECT_EQ(Val("5e"), 5.0);
    EXPECT_EQ(Val("5e+"), 5.0);
    EXPECT_EQ(Val("abc"), 0.0);
    EXPECT_EQ(Val(""), 0.0);
    EXPECT_EQ(Val("-"), 0.0);
    EXPECT_EQ(Val(".5."), 0.5);
    EXPECT_TRUE(std::isinf(Val("1e999")));
}

TEST(FormatSignificant, PlainDecimalWithoutTrailingZeros) {
    EXPECT_EQ(FormatSignificant(57150.0), "57150");
    EXPECT_EQ(FormatSignificant(123456.789012345678), "123456.789012346");
    EXPECT_EQ(FormatSignificant(0.000125), "0.000125");
    EXPECT_EQ(FormatSignificant(-2.5), "-2.5");
    EXPECT_EQ(FormatSignificant(1e17), "100000000000000000");
    EXPECT_EQ(FormatSignificant(0.0), "0");
    EXPECT_EQ(FormatSignificant(1.0 / 3.0), "0.333333333333333");
}

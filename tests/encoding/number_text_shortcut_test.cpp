// The shortcuts that keep number texts fast must give exactly what the general routes give.
#include "encoding/number_text.h"
#include "encoding/thousandths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

using encoding::Format;
using encoding::NumberOf;
using encoding::Val;

namespace {

// Format(value) by its definition: 15 significant digits first, then the digit route.
std::string formatByDefinition(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.14e", value);
    return Format(std::string_view(text));
}

} // namespace

TEST(FormatShortcut, AgreesWithTheFifteenDigitRoute) {
    std::mt19937_64 random(20061);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<long long> thousandths(-999999999, 999999999);
    for (int i = 0; i < 300000; ++i) {
        const double scale = std::pow(10.0, i % 13 - 3);
        const long long t = thousandths(random);
        for (const double v :
             {unit(random) * scale, t / 1000.0, (t + 0.5) / 1000.0, t / 1000.0 + 0.1 + 0.2,
              (t + 0.5) / 1000.0 + unit(random) * 1e-12, std::nextafter((t + 0.5) / 1000.0, 0.0)}) {
            ASSERT_EQ(Format(v), formatByDefinition(v)) << v;
        }
    }
}

TEST(NumberShortcut, ReadsPlainDecimalsAsTheGeneralReaderDoes) {
    std::mt19937_64 random(1599);
    std::uniform_int_distribution<long long> digits(-999999999999999, 999999999999999);
    std::uniform_int_distribution<int> point(0, 15);
    for (int i = 0; i < 300000; ++i) {
        std::string text = std::to_string(digits(random));
        const std::size_t at = text.size() - static_cast<std::size_t>(point(random)) % text.size();
        if (at > (text[0] == '-' ? 1U : 0U)) {
            text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), '.');
        }
        const double expected = std::strtod(text.c_str(), nullptr);
        ASSERT_EQ(NumberOf(text), expected) << text;
        ASSERT_EQ(Val(text + "mm"), expected) << text;
    }
    EXPECT_EQ(NumberOf(" 0500.000 "), 500.0);
    EXPECT_TRUE(std::signbit(*NumberOf("-0")));
    EXPECT_EQ(NumberOf("1.2.3"), std::nullopt);
    EXPECT_EQ(NumberOf("5 5"), std::nullopt);
    EXPECT_EQ(Val("1.5e3x"), 1500.0);
    EXPECT_EQ(NumberOf("12345678901234567890.5"), 12345678901234567890.5);
}

TEST(ThousandthsShortcut, AgreeWithFormatAndNumberOf) {
    std::mt19937_64 random(57150);
    std::uniform_int_distribution<std::int64_t> exact(-encoding::kExactThousandths,
                                                      encoding::kExactThousandths);
    for (int i = 0; i < 200000; ++i) {
        const std::int64_t t = exact(random) / static_cast<std::int64_t>(std::pow(10.0, i % 12));
        const std::string text = encoding::FormatThousandths(t);
        ASSERT_EQ(text, Format(static_cast<double>(t) / 1000.0)) << t;
        std::int64_t back = 0;
        ASSERT_TRUE(encoding::ThousandthsOfFormatted(text, back)) << text;
        ASSERT_EQ(back, t);
        ASSERT_EQ(static_cast<double>(back) / 1000.0, NumberOf(text)) << text;
        const std::string plain = encoding::FormatSignificant(t / 997000.0, 1 + i % 15);
        ASSERT_TRUE(encoding::RoundedThousandthsOf(plain, back)) << plain;
        ASSERT_EQ(encoding::FormatThousandths(back), Format(plain)) << plain;
    }
    std::int64_t untouched = 7;
    for (const char* text : {"-0000.000", "12.34", "0012.3456", "0012.34a", "abc", "1e3", "", "-",
                             "12345678901234.000"}) {
        EXPECT_FALSE(encoding::ThousandthsOfFormatted(text, untouched)) << text;
    }
    for (const char* text : {"", "abc", "1e3", "1.2.3", "1234567890123456", "0.1234567890123456"}) {
        EXPECT_FALSE(encoding::RoundedThousandthsOf(text, untouched)) << text;
    }
    EXPECT_EQ(untouched, 7);
}

TEST(ThousandthsShortcut, TextsOfAnyLengthAreReadWithoutOverflow) {
    const std::string nines(30, '9');
    const std::string zeros(5000, '0');
    std::int64_t untouched = 7;
    for (const std::string& text : {nines + ".000", "-" + nines + ".999", nines + "0000.000"}) {
        EXPECT_FALSE(encoding::ThousandthsOfFormatted(text, untouched)) << text;
    }
    for (const std::string& text : {nines, "-" + nines + ".5", "0." + zeros + nines}) {
        EXPECT_FALSE(encoding::RoundedThousandthsOf(text, untouched)) << text;
    }
    EXPECT_EQ(untouched, 7);
    // Leading zeros are no significant digits, however many there are.
    std::int64_t t = 0;
    ASSERT_TRUE(encoding::RoundedThousandthsOf(zeros + "12.0005", t));
    EXPECT_EQ(t, 12001);
}

TEST(ThousandthsShortcut, WritesEveryMagnitudeIntoTheCallersBuffer) {
    struct Case {
        std::int64_t thousandths;
        const char* text;
    };
    for (const Case c : {
             Case{0, "0000.000"},
             {1, "0000.001"},
             {-1, "-0000.001"},
             {-100, "-0000.100"},
             {9999999, "9999.999"},
             {10000000, "10000.000"},
             {-12345600, "-12345.600"},
             {INT64_MAX, "9223372036854775.807"},
             {INT64_MIN, "-9223372036854775.808"},
         }) {
        char text[encoding::kThousandthsTextMax];
        const std::size_t len = encoding::WriteThousandthsText(c.thousandths, text);
        EXPECT_EQ(std::string(text, len), c.text) << c.thousandths;
        EXPECT_EQ(encoding::FormatThousandths(c.thousandths), c.text);
    }
}

// The shortcuts that keep number texts fast must give exactly what the general routes give.
#include "encoding/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
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
            text.insert(at, ".");
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

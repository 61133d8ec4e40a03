// Number texts: the one way positions, distances, targets and table cells are written and read.
//
// The position displays are read back as the current position, and several comparisons work on
// these texts, so every writer must produce exactly the same text for the same value:
// at least four integer digits, a "." and three decimals, "-" only for a value that is still
// negative after rounding (0000.000, -0000.100, 12345.600).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace encoding {

// Format(value, "0000.000"). The value is first written with 15 significant digits, then
// rounded at the third decimal with halves away from zero, so 2.0005 gives 0002.001 even though
// the double nearest 2.0005 lies just below it.
std::string Format(double value);

// Format(text, "0000.000"): a text that reads as a number (see ReadsAsNumber) is formatted as
// its value; any other text comes back unchanged. Texts of at most 15 significant digits are
// rounded on their digits, which gives the same result as the double route, only faster.
std::string Format(std::string_view text);

// True when the text is a number: optional blanks or tabs, optional sign, digits with at most
// one ".", optional exponent, optional blanks or tabs. A value beyond the range of a double is
// not a number.
bool ReadsAsNumber(std::string_view text);

// The number of a text: the text must read as a number; anything else is an error the caller
// turns into the operator's message.
std::optional<double> NumberOf(std::string_view text);

// Val(text): the leading number after blanks and tabs (sign, digits, one point, exponent);
// 0 when the text starts with no number.
double Val(std::string_view text);

// The leading number Val reads, as the decimal the text spells, before any binary rounding:
// its sign, its digits with at most one point, and its exponent (clamped to +-100000). No
// digits: Val reads 0. Where a count must be exact (0.57 x 100 is 57 steps, not 56), the
// decimal is taken from here instead of from Val's double.
struct LeadingNumber {
    bool negative = false;
    std::string_view mantissa; // digits with at most one ".", e.g. "533.33"; empty: no number
    int exponent = 0;
    std::string_view body; // mantissa and exponent as they stand in the text

    // The mantissa's digits without the point and leading zeros, as a whole number while there
    // are at most SignificandDigits of them: the value is then
    // significand x 10^(exponent - decimals) ("533.33": 53333, 2 decimals).
    static constexpr std::size_t SignificandDigits = 19;
    std::uint64_t significand = 0;
    std::size_t significantDigits = 0; // all of them, also beyond SignificandDigits
    std::size_t decimals = 0;          // digits after the point, leading zeros among them
};
LeadingNumber LeadingNumberOf(std::string_view text);

// Plain decimal with at most `digits` significant digits, no exponent, no trailing zeros and no
// trailing point (57150, 57150.3214707592, 0.000125). Used where the design writes a computed
// value into a settings field.
std::string FormatSignificant(double value, int digits = 15);

} // namespace encoding

// Number texts as whole numbers of thousandths, for the hot paths that format and read back
// "0000.000" texts on every program line. Each function is exact: where it gives a result,
// that result is what Format and NumberOf give; where it cannot be sure, it gives none and the
// caller takes the general route.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace encoding {

// Thousandths up to this size in magnitude (14 digits) are whole numbers that doubles, their
// sums and differences, and the 15-digit rounding of Format all handle exactly.
inline constexpr std::int64_t kExactThousandths = 99'999'999'999'999;

// The "0000.000" text of a number of thousandths: Format(thousandths / 1000.0).
std::string FormatThousandths(std::int64_t thousandths);

// The same text written to `out`, which needs room for kThousandthsTextMax characters; returns
// the length. Lets a caller refill a string it already holds.
inline constexpr std::size_t kThousandthsTextMax = 24;
std::size_t WriteThousandthsText(std::int64_t thousandths, char* out);

// The thousandths of a text shaped as Format writes it (optional "-", digits, ".", exactly three
// digits, at most 15 digits in all). Its number is then thousandths / 1000.0, the correctly
// rounded quotient, which is the double NumberOf reads. False, and `thousandths` untouched, for
// any other text.
bool ThousandthsOfFormatted(std::string_view text, std::int64_t& thousandths);

// The thousandths of a shown position, for counting steps: Format's shape with up to 15
// integer digits (a position of up to 10^15 mm, beyond what a double holds exactly but still
// a whole number of thousandths in 64 bits), or any plain decimal RoundedThousandthsOf reads.
bool ThousandthsOfShownPosition(std::string_view text, std::int64_t& thousandths);

// The thousandths Format(text) rounds a plain decimal text to (blanks, optional sign, digits
// with at most one point, blanks; at most 15 significant digits, within kExactThousandths).
// Halves round away from zero, on the digits. False for any other text.
bool RoundedThousandthsOf(std::string_view text, std::int64_t& thousandths);

} // namespace encoding

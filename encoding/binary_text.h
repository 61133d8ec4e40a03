// Binary texts: numbers written as "0" and "1", most significant bit first.
//
// A report field can be built by passing its value through these texts: value -> binary text ->
// zero-padded to the field width -> 8-character groups -> one byte each. The motion report
// computes the same bytes arithmetically and is checked against this route; the planner's echo
// of the X count shows such a padded text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace encoding {

// convDecToBin's argument: a value with four decimal places, held as a whole number of
// ten-thousandths (57.5 is {575000}).
struct FixedPoint4 {
    std::int64_t tenThousandths = 0;
};

// Binary text of the whole part of a value, without leading zeros. 0, every negative value and
// every value below 1 give the empty text; a fraction is dropped (5.75 gives "101").
std::string convDecToBin(FixedPoint4 curNumber);
// The same for a whole number, which is what the report builders pass (57 gives "111001").
std::string convDecToBin(std::int64_t curNumber);

// The value of a binary text; any character other than "1" is a zero bit, the empty text is 0.
// No value when the text's value does not fit a signed 32-bit integer.
std::optional<std::int32_t> convBinToLong(std::string_view strBin);

// Four binary characters per hexadecimal digit ("14D5" gives "0001010011010101"); a character
// that is not a hexadecimal digit counts as 0 ("g" gives "0000"). Any length is accepted.
std::string HexToBinary(std::string_view hexText);

// Left-pads a binary text with zeros to 16 or 24 characters. A text longer than the width is not
// cut: the result is then `previousPadded`, the result of the call before, unchanged. Callers
// that must not carry such a stale value check the width themselves (the motion report does).
std::string PadTo16Bits(std::string_view binaryText, std::string_view previousPadded);
std::string PadTo24Bits(std::string_view binaryText, std::string_view previousPadded);

} // namespace encoding

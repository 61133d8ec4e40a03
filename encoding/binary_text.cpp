#include "encoding/binary_text.h"

#include <cmath>

namespace encoding {
namespace {

// The 4-digit binary texts of 0 to 15, in order, each followed by one blank.
constexpr std::string_view kNibbles =
    "0000 0001 0010 0011 0100 0101 0110 0111 1000 1001 1010 1011 1100 1101 1110 1111";

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return 0;
}

std::string padTo(std::string_view binaryText, std::string_view previousPadded, std::size_t width) {
    if (binaryText.size() > width) {
        return std::string(previousPadded);
    }
    std::string padded(width - binaryText.size(), '0');
    padded.append(binaryText);
    return padded;
}

} // namespace

std::string convDecToBin(FixedPoint4 curNumber) {
    // Bit by bit from 2^64 down, testing floor(value / 2^i) == 1 on the value as a double; the
    // fixed-point range (below 2^50) keeps the high steps silent and the subtraction exact.
    std::int64_t rest = curNumber.tenThousandths;
    std::string bits;
    for (int i = 64; i >= 0; --i) {
        const double value = static_cast<double>(rest) / 10000.0;
        if (std::floor(std::ldexp(value, -i)) == 1.0) {
            bits.push_back('1');
            rest -= (std::int64_t{1} << i) * 10000;
        } else if (!bits.empty()) {
            bits.push_back('0');
        }
    }
    return bits;
}

std::string convDecToBin(std::int64_t curNumber) {
    std::string bits;
    if (curNumber <= 0) {
        return bits;
    }
    const auto value = static_cast<std::uint64_t>(curNumber);
    int top = 63;
    while (((value >> top) & 1U) == 0) {
        --top;
    }
    for (int i = top; i >= 0; --i) {
        bits.push_back(((value >> i) & 1U) != 0 ? '1' : '0');
    }
    return bits;
}

std::optional<std::int32_t> convBinToLong(std::string_view strBin) {
    std::int64_t result = 0;
    const std::size_t n = strBin.size();
    for (std::size_t p = 0; p < n; ++p) {
        if (strBin[p] != '1') {
            continue;
        }
        const std::size_t weight = n - 1 - p;
        if (weight >= 31) {
            return std::nullopt;
        }
        result += std::int64_t{1} << weight;
    }
    return static_cast<std::int32_t>(result);
}

std::string HexToBinary(std::string_view hexText) {
    std::string bits;
    bits.reserve(hexText.size() * 4);
    for (const char c : hexText) {
        bits.append(kNibbles.substr(static_cast<std::size_t>(hexDigitValue(c)) * 5, 4));
    }
    return bits;
}

std::string PadTo16Bits(std::string_view binaryText, std::string_view previousPadded) {
    return padTo(binaryText, previousPadded, 16);
}

std::string PadTo24Bits(std::string_view binaryText, std::string_view previousPadded) {
    return padTo(binaryText, previousPadded, 24);
}

} // namespace encoding

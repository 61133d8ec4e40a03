#include "encoding/thousandths.h"

#include <bit>
#include <cstring>

namespace encoding {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of four decimal digits, or -1 when one of them is not a digit. One 32-bit word:
// subtracting "0000" leaves each digit in its byte, and a byte outside 0..9 sets a top bit.
int fourDigits(const char* p) {
    std::uint32_t v = 0;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) {
        v = (v >> 24) | ((v >> 8) & 0xFF00U) | ((v << 8) & 0xFF0000U) | (v << 24);
    }
    v -= 0x30303030U;
    if ((((v + 0x76767676U) | v) & 0x80808080U) != 0) {
        return -1;
    }
    v = v * 10 + (v >> 8); // byte 0: first pair, byte 2: second pair
    return static_cast<int>((v & 0xFFU) * 100 + ((v >> 16) & 0xFFU));
}

} // namespace

std::size_t WriteThousandthsText(std::int64_t thousandths, char* out) {
    static constexpr char pairs[] = "0001020304050607080910111213141516171819"
                                    "2021222324252627282930313233343536373839"
                                    "4041424344454647484950515253545556575859"
                                    "6061626364656667686970717273747576777879"
                                    "8081828384858687888990919293949596979899";
    // Zero gets no "-": the texts rely on "-" meaning negative.
    char* p = out;
    // Through unsigned arithmetic, so that the most negative value has a magnitude too.
    std::uint64_t magnitude = static_cast<std::uint64_t>(thousandths);
    if (thousandths < 0) {
        *p++ = '-';
        magnitude = ~magnitude + 1;
    }
    std::uint64_t whole = magnitude / 1000;
    const auto decimals = static_cast<unsigned>(magnitude % 1000);
    if (whole < 10000) {
        // Four integer digits, two at a time.
        const auto w = static_cast<unsigned>(whole);
        std::memcpy(p, pairs + 2 * (w / 100), 2);
        std::memcpy(p + 2, pairs + 2 * (w % 100), 2);
        p += 4;
    } else {
        // Five or more integer digits: the rare case, digit by digit.
        char digits[24];
        int n = 0;
        while (whole != 0) {
            digits[n++] = static_cast<char>('0' + whole % 10);
            whole /= 10;
        }
        while (n > 0) {
            *p++ = digits[--n];
        }
    }
    *p++ = '.';
    *p++ = static_cast<char>('0' + decimals / 100);
    std::memcpy(p, pairs + 2 * (decimals % 100), 2);
    p += 2;
    return static_cast<std::size_t>(p - out);
}

std::string FormatThousandths(std::int64_t thousandths) {
    char text[kThousandthsTextMax];
    return std::string(text, WriteThousandthsText(thousandths, text));
}

namespace {

// Both readers of Format's shape: they differ only in how many integer digits they take.
bool thousandthsOfFormatted(std::string_view text, std::size_t maxIntegerDigits,
                            std::int64_t& thousandths) {
    const std::size_t n = text.size();
    const bool negative = n > 0 && text[0] == '-';
    std::size_t i = negative ? 1 : 0;
    std::int64_t value = 0;
    if (n - i == 8 && text[i + 4] == '.') {
        // The common "dddd.ddd": both halves at once.
        const char decimals[4] = {'0', text[i + 5], text[i + 6], text[i + 7]};
        const int whole = fourDigits(text.data() + i);
        const int fraction = fourDigits(decimals);
        if (whole < 0 || fraction < 0) {
            return false;
        }
        value = std::int64_t{whole} * 1000 + fraction;
    } else {
        std::size_t integerDigits = 0;
        for (; i < n && isDigit(text[i]); ++i) {
            if (++integerDigits > maxIntegerDigits) {
                return false; // no text of this shape; stopping here keeps the value from
                              // overflowing
            }
            value = value * 10 + (text[i] - '0');
        }
        if (integerDigits == 0 || i + 4 != n || text[i] != '.' || !isDigit(text[i + 1]) ||
            !isDigit(text[i + 2]) || !isDigit(text[i + 3])) {
            return false;
        }
        value = value * 1000 + (text[i + 1] - '0') * 100 + (text[i + 2] - '0') * 10 +
                (text[i + 3] - '0');
    }
    if (negative && value == 0) {
        return false; // "-0000.000" reads as minus zero; leave it to the general route
    }
    thousandths = negative ? -value : value;
    return true;
}

} // namespace

bool ThousandthsOfFormatted(std::string_view text, std::int64_t& thousandths) {
    return thousandthsOfFormatted(text, 12, thousandths);
}

bool ThousandthsOfShownPosition(std::string_view text, std::int64_t& thousandths) {
    if (thousandthsOfFormatted(text, 15, thousandths)) {
        return true;
    }
    // Anything else Format could not have written, but a plain decimal is still a position.
    return RoundedThousandthsOf(text, thousandths);
}

bool RoundedThousandthsOf(std::string_view text, std::int64_t& thousandths) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && isBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t whole = 0;
    std::int64_t decimals = 0; // the first three decimals, as thousandths
    bool roundUp = false;
    std::size_t digits = 0;
    int significant = 0;          // digits from the first non-zero one on
    std::size_t decimalCount = 0; // digits after the point, once there is one
    bool point = false;
    for (; i < n; ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (!isDigit(c)) {
            break;
        }
        ++digits;
        if (significant > 0 || c != '0') {
            if (++significant > 15) {
                return false; // Format takes the double route for longer texts
            }
        }
        const int d = c - '0';
        if (!point) {
            whole = whole * 10 + d;
        } else if (++decimalCount <= 3) {
            decimals = decimals * 10 + d;
        } else if (decimalCount == 4) {
            roundUp = d >= 5;
        }
    }
    while (i < n && isBlank(text[i])) {
        ++i;
    }
    if (digits == 0 || i != n) {
        return false;
    }
    for (std::size_t d = decimalCount; d < 3; ++d) {
        decimals *= 10;
    }
    const std::int64_t magnitude = whole * 1000 + decimals + (roundUp ? 1 : 0);
    if (magnitude > kExactThousandths) {
        return false;
    }
    thousandths = negative ? -magnitude : magnitude;
    return true;
}

} // namespace encoding

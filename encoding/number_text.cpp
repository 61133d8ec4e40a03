#include "encoding/number_text.h"

#include "encoding/thousandths.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace encoding {
namespace {

// A decimal number as significant digits: value = d0.d1d2... x 10^exponent.
// `digits` never starts with '0'; an empty digit text is zero.
struct Decimal {
    bool negative = false;
    std::string_view digits;
    int exponent = 0;
};

constexpr int kSignificant = 15;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Writes the value with `significant` digits into buf and returns its digits and exponent.
Decimal decimalOf(double value, int significant, char (&buf)[64]) {
    auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, significant - 1);
    (void)ec; // 64 characters always hold a 15-digit scientific text
    Decimal d;
    const char* p = buf;
    if (*p == '-') {
        d.negative = true;
        ++p;
    }
    // "d.ddddde+XX": move the digits after the point one place left to make them contiguous.
    char* out = buf + (p - buf);
    const char* mantissaStart = out;
    const char* q = p;
    int count = 0;
    while (q < end && *q != 'e') {
        if (*q != '.') {
            out[count++] = *q;
        }
        ++q;
    }
    int exponent = 0;
    if (q < end) {
        ++q;
        bool negExp = *q == '-';
        if (*q == '+' || *q == '-') {
            ++q;
        }
        while (q < end) {
            exponent = exponent * 10 + (*q - '0');
            ++q;
        }
        if (negExp) {
            exponent = -exponent;
        }
    }
    if (count == 0 || mantissaStart[0] == '0') {
        d.digits = {};
    } else {
        d.digits = std::string_view(mantissaStart, static_cast<std::size_t>(count));
    }
    d.exponent = exponent;
    return d;
}

// Rounds at the third decimal, halves away from zero, and writes the "0000.000" text.
std::string formatDecimal(const Decimal& d) {
    // Thousandths as a digit text: digit i of d has place value 10^(exponent - i), and it is a
    // whole number of thousandths while exponent - i >= -3.
    char thousandths[400];
    int len = 0;
    const int n = static_cast<int>(d.digits.size());
    const int keep = d.exponent + 4;
    if (n == 0 || keep < 0) {
        len = 0;
    } else if (keep == 0) {
        if (d.digits[0] >= '5') {
            thousandths[len++] = '1';
        }
    } else {
        if (keep > static_cast<int>(sizeof thousandths) - 2) {
            return "Overflow"; // unreachable for finite doubles of 15 digits (|e| <= 308)
        }
        for (int i = 0; i < keep; ++i) {
            thousandths[len++] = i < n ? d.digits[static_cast<std::size_t>(i)] : '0';
        }
        if (keep < n && d.digits[static_cast<std::size_t>(keep)] >= '5') {
            int i = len - 1;
            while (i >= 0 && thousandths[i] == '9') {
                thousandths[i--] = '0';
            }
            if (i >= 0) {
                ++thousandths[i];
            } else {
                for (int j = len; j > 0; --j) {
                    thousandths[j] = thousandths[j - 1];
                }
                thousandths[0] = '1';
                ++len;
            }
        }
    }
    // Drop leading zeros (a kept digit run can start with zeros only after a carry, never;
    // but keep == 0 with no round-up leaves nothing, which is zero).
    int start = 0;
    while (start < len && thousandths[start] == '0') {
        ++start;
    }
    const int significant = len - start;
    if (significant == 0) {
        return "0000.000"; // rounds to zero: no "-", the texts rely on "-" meaning negative
    }
    const int width = significant < 7 ? 7 : significant;
    std::string text;
    text.reserve(static_cast<std::size_t>(width) + 2);
    if (d.negative) {
        text.push_back('-');
    }
    for (int i = 0; i < width; ++i) {
        if (i == width - 3) {
            text.push_back('.');
        }
        const int from = start + i - (width - significant);
        text.push_back(from < start ? '0' : thousandths[from]);
    }
    return text;
}

// The shape of a number text, as ReadsAsNumber accepts it.
struct NumberShape {
    bool ok = false;
    bool negative = false;
    std::string_view body; // digits, point and exponent, without blanks and sign
    std::string_view mantissa;
    int exponent = 0; // value of the exponent part (clamped)
    bool hasExponent = false;
};

NumberShape shapeOf(std::string_view t) {
    NumberShape s;
    std::size_t i = 0;
    const std::size_t n = t.size();
    while (i < n && isBlank(t[i])) {
        ++i;
    }
    if (i < n && (t[i] == '+' || t[i] == '-')) {
        s.negative = t[i] == '-';
        ++i;
    }
    const std::size_t bodyStart = i;
    std::size_t intDigits = 0;
    while (i < n && isDigit(t[i])) {
        ++i;
        ++intDigits;
    }
    std::size_t fracDigits = 0;
    if (i < n && t[i] == '.') {
        ++i;
        while (i < n && isDigit(t[i])) {
            ++i;
            ++fracDigits;
        }
    }
    if (intDigits + fracDigits == 0) {
        return s;
    }
    s.mantissa = t.substr(bodyStart, i - bodyStart);
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        std::size_t j = i + 1;
        bool negExp = false;
        if (j < n && (t[j] == '+' || t[j] == '-')) {
            negExp = t[j] == '-';
            ++j;
        }
        if (j >= n || !isDigit(t[j])) {
            return s;
        }
        long value = 0;
        while (j < n && isDigit(t[j])) {
            if (value < 100000) {
                value = value * 10 + (t[j] - '0');
            }
            ++j;
        }
        s.hasExponent = true;
        s.exponent = static_cast<int>(negExp ? -value : value);
        i = j;
    }
    s.body = t.substr(bodyStart, i - bodyStart);
    while (i < n && isBlank(t[i])) {
        ++i;
    }
    s.ok = i == n;
    return s;
}

// A plain decimal (optional sign, digits with at most one point, no exponent) starting at `i`.
// Positions, distances, speeds and settings are read for every program line; when the digits
// form a whole number of at most 2^53, one division by an exact power of ten is correctly
// rounded and so gives the very double the general reader gives.
struct PlainDecimal {
    bool ok = false;
    double value = 0;
    std::size_t end = 0;
};

PlainDecimal readPlainDecimal(std::string_view t, std::size_t i) {
    static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,
                                              1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13,
                                              1e14, 1e15, 1e16, 1e17, 1e18};
    PlainDecimal r;
    const std::size_t n = t.size();
    bool negative = false;
    if (i < n && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    std::uint64_t digits = 0;
    int count = 0;
    int decimals = 0;
    bool point = false;
    for (; i < n; ++i) {
        const char c = t[i];
        if (isDigit(c)) {
            if (count == 18) {
                return r;
            }
            digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
            ++count;
            decimals += point ? 1 : 0;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (count == 0 || digits > (std::uint64_t{1} << 53) ||
        (i < n && (t[i] == 'e' || t[i] == 'E'))) {
        return r;
    }
    const double magnitude = static_cast<double>(digits) / kPowersOfTen[decimals];
    r.ok = true;
    r.value = negative ? -magnitude : magnitude;
    r.end = i;
    return r;
}

// The value of a well-shaped body (no sign, no blanks). Overflow gives infinity, underflow 0.
double valueOfBody(std::string_view body, bool negative, bool negativeExponent) {
    double v = 0;
    auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), v);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        v = negativeExponent ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -v : v;
}

} // namespace

std::string Format(double value) {
    if (!std::isfinite(value)) {
        return std::isnan(value) ? "NaN" : (value < 0 ? "-Infinity" : "Infinity");
    }
    // Positions and distances are formatted for every axis of every program line, so the common
    // case skips the 15-digit text. Below 1e9 that step moves the value by at most 5e-4
    // thousandths and value * 1000 errs by at most 1e-4; unless the thousandths lie within
    // 0.01 of a half, both routes round to the same whole number of thousandths.
    if (std::fabs(value) < 1e9) {
        const double thousandths = value * 1000.0;
        const double below = std::floor(thousandths);
        const double fraction = thousandths - below;
        if (std::fabs(fraction - 0.5) > 0.01) {
            return FormatThousandths(static_cast<std::int64_t>(fraction > 0.5 ? below + 1 : below));
        }
    }
    char buf[64];
    return formatDecimal(decimalOf(value, kSignificant, buf));
}

std::string Format(std::string_view text) {
    const NumberShape s = shapeOf(text);
    if (!s.ok) {
        return std::string(text);
    }
    // Significant digits of the mantissa, straight from the text.
    std::size_t pointPos = s.mantissa.find('.');
    if (pointPos == std::string_view::npos) {
        pointPos = s.mantissa.size();
    }
    char digits[kSignificant];
    int count = 0;
    int firstPlace = 0; // place value (power of ten) of the first significant digit
    bool started = false;
    bool tooLong = false;
    for (std::size_t i = 0; i < s.mantissa.size(); ++i) {
        const char c = s.mantissa[i];
        if (c == '.') {
            continue;
        }
        if (!started) {
            if (c == '0') {
                continue;
            }
            started = true;
            firstPlace =
                i < pointPos ? static_cast<int>(pointPos - i - 1) : -static_cast<int>(i - pointPos);
        }
        if (count < kSignificant) {
            digits[count++] = c;
        } else if (c != '0') {
            tooLong = true; // more than 15 significant digits: only the double route is exact
        }
    }
    while (count > 0 && digits[count - 1] == '0') {
        --count;
    }
    const int exponent = firstPlace + s.exponent;
    if (tooLong || (count > 0 && (exponent > 300 || exponent < -300))) {
        const double v = valueOfBody(s.body, s.negative, s.exponent < 0);
        if (!std::isfinite(v)) {
            return std::string(text); // beyond a double: not a number
        }
        return Format(v);
    }
    Decimal d;
    d.negative = s.negative;
    d.digits = std::string_view(digits, static_cast<std::size_t>(count));
    d.exponent = exponent;
    return formatDecimal(d);
}

bool ReadsAsNumber(std::string_view text) {
    return NumberOf(text).has_value();
}

std::optional<double> NumberOf(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) {
        ++i;
    }
    if (const PlainDecimal plain = readPlainDecimal(text, i); plain.ok) {
        std::size_t end = plain.end;
        while (end < text.size() && isBlank(text[end])) {
            ++end;
        }
        if (end == text.size()) {
            return plain.value;
        }
    }
    const NumberShape s = shapeOf(text);
    if (!s.ok) {
        return std::nullopt;
    }
    const double v = valueOfBody(s.body, s.negative, s.exponent < 0);
    if (!std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

LeadingNumber LeadingNumberOf(std::string_view text) {
    LeadingNumber r;
    // Walked by pointer, the counts in locals: a G-code file has millions of numbers.
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end && isBlank(*p)) {
        ++p;
    }
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const char* const start = p;
    // Each digit also goes into the significand: a leading zero adds nothing, and past 19
    // significant digits only the count goes on.
    std::uint64_t significand = 0;
    std::size_t significantDigits = 0;
    const auto digits = [&] {
        const char* const first = p;
        for (; p < end; ++p) {
            const auto d = static_cast<unsigned>(static_cast<unsigned char>(*p)) - '0';
            if (d > 9) {
                break;
            }
            if (significantDigits == 0 && d == 0) {
                continue;
            }
            if (++significantDigits <= LeadingNumber::SignificandDigits) {
                significand = significand * 10 + d;
            }
        }
        return static_cast<std::size_t>(p - first);
    };
    std::size_t digitCount = digits();
    if (p < end && *p == '.') {
        ++p;
        r.decimals = digits();
        digitCount += r.decimals;
    }
    if (digitCount == 0) {
        return r;
    }
    r.negative = negative;
    r.significand = significand;
    r.significantDigits = significantDigits;
    r.mantissa = std::string_view(start, static_cast<std::size_t>(p - start));
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool negativeExponent = false;
        if (q < end && (*q == '+' || *q == '-')) {
            negativeExponent = *q == '-';
            ++q;
        }
        if (q < end && isDigit(*q)) {
            long value = 0;
            while (q < end && isDigit(*q)) {
                if (value < 100000) {
                    value = value * 10 + (*q - '0');
                }
                ++q;
            }
            r.exponent = static_cast<int>(negativeExponent ? -value : value);
            p = q;
        }
    }
    r.body = std::string_view(start, static_cast<std::size_t>(p - start));
    return r;
}

double Val(std::string_view text) {
    static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,
                                              1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13,
                                              1e14, 1e15, 1e16, 1e17, 1e18};
    const LeadingNumber number = LeadingNumberOf(text);
    if (number.mantissa.empty()) {
        return 0.0;
    }
    // Digits that form a whole number of at most 2^53, divided by an exact power of ten: one
    // correctly rounded division gives the very double the general reader gives.
    if (number.body.size() == number.mantissa.size() &&
        number.significantDigits <= LeadingNumber::SignificandDigits &&
        number.significand <= (std::uint64_t{1} << 53) && number.decimals <= 18) {
        const double magnitude =
            static_cast<double>(number.significand) / kPowersOfTen[number.decimals];
        return number.negative ? -magnitude : magnitude;
    }
    return valueOfBody(number.body, number.negative, number.exponent < 0);
}

std::string FormatSignificant(double value, int digits) {
    if (!std::isfinite(value)) {
        return std::isnan(value) ? "NaN" : (value < 0 ? "-Infinity" : "Infinity");
    }
    if (digits < 1) {
        digits = 1;
    }
    if (digits > 17) {
        digits = 17;
    }
    char buf[64];
    const Decimal d = decimalOf(value, digits, buf);
    std::string_view sig = d.digits;
    while (!sig.empty() && sig.back() == '0') {
        sig.remove_suffix(1);
    }
    if (sig.empty()) {
        return "0";
    }
    std::string text;
    if (d.negative) {
        text.push_back('-');
    }
    const int n = static_cast<int>(sig.size());
    if (d.exponent < 0) {
        text += "0.";
        text.append(static_cast<std::size_t>(-d.exponent - 1), '0');
        text.append(sig);
        return text;
    }
    for (int i = 0; i <= d.exponent || i < n; ++i) {
        if (i == d.exponent + 1) {
            text.push_back('.');
        }
        text.push_back(i < n ? sig[static_cast<std::size_t>(i)] : '0');
    }
    return text;
}

} // namespace encoding

#include "motion/step_position.h"

#include "encoding/number_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstddef>
#include <limits>

namespace motion {
namespace {

constexpr std::uint64_t kMaxSteps = static_cast<std::uint64_t>(kMaxStepPosition);
constexpr int kWholeDigits = 19; // every number of 19 digits fits 64 bits

constexpr std::array<std::uint64_t, 20> kPowersOfTen = [] {
    std::array<std::uint64_t, 20> p{};
    std::uint64_t v = 1;
    for (std::uint64_t& e : p) {
        e = v;
        v *= 10;
    }
    return p;
}();
constexpr std::array<std::uint64_t, 20> kReciprocals = [] {
    std::array<std::uint64_t, 20> r{};
    for (std::size_t i = 0; i < r.size(); ++i) {
        r[i] = ~std::uint64_t{0} / kPowersOfTen[i];
    }
    return r;
}();

std::uint64_t digitsValue(std::string_view digits) {
    std::uint64_t v = 0;
    for (const char c : digits) {
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return v;
}

std::uint64_t magnitudeOf(std::int64_t v) {
    // Through unsigned arithmetic, so that the most negative value has a magnitude too.
    return v < 0 ? ~static_cast<std::uint64_t>(v) + 1 : static_cast<std::uint64_t>(v);
}

} // namespace

PulsesPerMm::PulsesPerMm(std::string_view setpulsesText) {
    const encoding::LeadingNumber number = encoding::LeadingNumberOf(setpulsesText);
    if (number.significantDigits == 0) {
        return; // zero
    }
    // Thousandths: "/ 1000" is 10^-3.
    long long exponent = number.exponent - static_cast<long long>(number.decimals) - 3;
    if (number.significantDigits <= kWholeDigits) {
        mantissa_ = number.significand;
        // Trailing zeros only move the exponent: 533.330 is 53333 x 10^-5 (with the -3).
        while (mantissa_ % 10 == 0) {
            mantissa_ /= 10;
            ++exponent;
        }
    } else {
        // More digits than 64 bits hold: kept as text, unless most of them were trailing zeros.
        for (const char c : number.mantissa) {
            if (c != '.' && (!digits_.empty() || c != '0')) {
                digits_.push_back(c);
            }
        }
        while (digits_.back() == '0') {
            digits_.pop_back();
            ++exponent;
        }
        if (digits_.size() <= kWholeDigits) {
            mantissa_ = digitsValue(digits_);
            digits_.clear();
        }
    }
    exponent_ = static_cast<int>(exponent);
    awayFromZero_ = number.negative;
    if (digits_.empty() && exponent_ < 0 && -exponent_ <= kWholeDigits) {
        divisor_ = kPowersOfTen[static_cast<std::size_t>(-exponent_)];
        reciprocal_ = kReciprocals[static_cast<std::size_t>(-exponent_)];
        // Positions below 2^(64 - the mantissa's bits) keep the product within 64 bits; a
        // bound by bits, not a division, as every line of a run prepares its settings.
        const int bits = std::bit_width(mantissa_);
        productLimit_ = std::min(bits >= 64 ? 0 : (std::uint64_t{1} << (64 - bits)) - 1,
                                 static_cast<std::uint64_t>(kMaxCountedThousandths));
    }
}

std::optional<std::int64_t> PulsesPerMm::stepsAtSlowly(std::int64_t thousandths) const {
    if (IsZero() || thousandths == 0) {
        return 0;
    }
    if (thousandths > kMaxCountedThousandths || thousandths < -kMaxCountedThousandths) {
        return std::nullopt;
    }
    std::optional<std::int64_t> steps = stepsOfDigits(magnitudeOf(thousandths));
    if (steps && thousandths < 0) {
        *steps = -*steps;
    }
    return steps;
}

// floor(digits x 10^exponent_ x b) on the decimal digits, for what does not fit one 64-bit
// product: the fraction's digits are carried up one at a time from the last, each carry
// floor((digit x b + carry) / 10), which stays below b and so within 64 bits.
std::optional<std::int64_t> PulsesPerMm::stepsOfDigits(std::uint64_t b) const {
    char buffer[24];
    std::string_view digits = digits_;
    if (digits.empty()) {
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, mantissa_);
        (void)ec; // 24 characters hold any 64-bit number
        digits = std::string_view(buffer, static_cast<std::size_t>(end - buffer));
    }
    const auto n = static_cast<long long>(digits.size());
    const long long e = exponent_;
    if (e >= 0) {
        if (n + e > kWholeDigits) {
            return std::nullopt; // at least 10^19 steps per thousandth
        }
        const std::uint64_t whole = digitsValue(digits) * kPowersOfTen[static_cast<std::size_t>(e)];
        if (whole > kMaxSteps / b) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(whole * b);
    }
    const long long fractionDigits = -e;
    const long long wholeDigits = n > fractionDigits ? n - fractionDigits : 0;
    if (wholeDigits > kWholeDigits) {
        return std::nullopt;
    }
    std::uint64_t carry = 0;
    bool fraction = false; // a part of a step is left over
    for (long long i = n - 1; i >= wholeDigits; --i) {
        const std::uint64_t v =
            static_cast<std::uint64_t>(digits[static_cast<std::size_t>(i)] - '0') * b + carry;
        fraction = fraction || v % 10 != 0;
        carry = v / 10;
    }
    // Zeros between the point and the first digit: each one divides the carry by ten.
    for (long long zeros = fractionDigits - n; zeros > 0 && carry != 0; --zeros) {
        fraction = fraction || carry % 10 != 0;
        carry /= 10;
    }
    if (awayFromZero_ && fraction) {
        ++carry;
    }
    const std::uint64_t whole =
        digitsValue(digits.substr(0, static_cast<std::size_t>(wholeDigits)));
    if (whole != 0 && whole > (kMaxSteps - carry) / b) {
        return std::nullopt;
    }
    const std::uint64_t steps = whole * b + carry;
    if (steps > kMaxSteps) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(steps);
}

std::int64_t PulsesPerMm::PositionAfterSteps(std::int64_t fromThousandths,
                                             std::int64_t toThousandths,
                                             std::uint64_t steps) const {
    if (steps == 0 || fromThousandths == toThousandths) {
        return fromThousandths;
    }
    // The steps travelled only grow on the way from one end to the other: halve the way.
    const std::int64_t start = StepsAt(fromThousandths).value_or(0);
    const bool up = toThousandths > fromThousandths;
    std::uint64_t lo = 0;
    std::uint64_t hi = up ? static_cast<std::uint64_t>(toThousandths - fromThousandths)
                          : static_cast<std::uint64_t>(fromThousandths - toThousandths);
    const auto at = [&](std::uint64_t d) {
        return up ? fromThousandths + static_cast<std::int64_t>(d)
                  : fromThousandths - static_cast<std::int64_t>(d);
    };
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        const std::int64_t s = StepsAt(at(mid)).value_or(start);
        const std::uint64_t travelled = s >= start ? static_cast<std::uint64_t>(s - start)
                                                   : static_cast<std::uint64_t>(start - s);
        if (travelled >= steps) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return at(lo);
}

} // namespace motion

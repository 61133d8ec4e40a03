// Where the machine stands in steps, worked out from where the displays say it stands.
//
// The board keeps no position and every report is a relative move, so the machine goes where
// the counts add up to. To keep it where the displays say, every count on every axis is the
// difference of one value after and before the move: the step position
//
//     S(shown) = pulses per mm x shown position, rounded toward zero,
//
// counted from the last zero or load. Whatever a program's length, the counts it sends then add
// up to S of its final position: the machine is never a whole step away from the displays.
// Rounding each move's own distance instead drops a fraction of a step on every move, and over
// a long program of short moves those fractions add up to millimetres.
//
// Both factors are decimals (the pulses per mm as the text spells it, the positions as whole
// thousandths), so the product is exact: 0.57 pulses per mm x 100 mm is 57 steps, never the
// 56.999999999999993 of doubles.
#pragma once

#include <cstdint>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif
#include <optional>
#include <string>
#include <string_view>

namespace motion {

// Step positions beyond this many steps from zero are not counted: no machine comes near
// (it is 8.6e15 mm at 533.33 pulses per mm), and two of them still subtract within 64 bits.
inline constexpr std::int64_t kMaxStepPosition = std::int64_t{1} << 62;

// Positions beyond this many thousandths (10^15 mm) have no step position either; below it a
// carry of the exact product fits 64 bits.
inline constexpr std::int64_t kMaxCountedThousandths = 1'000'000'000'000'000'000;

struct StepMemo;

class PulsesPerMm {
public:
    PulsesPerMm() = default; // zero
    // The leading number of the setpulses text, as Val reads it, exactly as written. Its sign
    // is dropped from every count, as always; but a negative product rounded down is a
    // magnitude rounded up, so a negative setting rounds its steps away from zero, and its
    // first move from zero still counts what it always counted (10 mm at -533.333: 5334).
    explicit PulsesPerMm(std::string_view setpulsesText);

    bool IsZero() const { return mantissa_ == 0 && digits_.empty(); }

    // S at a shown position of `thousandths`: |pulses per mm| x thousandths / 1000 rounded
    // toward zero (away from zero for a negative setting). None when it lies beyond
    // kMaxStepPosition, or the position beyond kMaxCountedThousandths (unless the pulses per
    // mm are zero: then it is 0 everywhere).
    std::optional<std::int64_t> StepsAt(std::int64_t thousandths) const {
        std::int64_t steps = 0;
        if (!StepsAt(thousandths, steps)) {
            return std::nullopt;
        }
        return steps;
    }
    // The same into `steps`, false where it is not counted: loops over many positions (the
    // vertices of an arc) keep it in a register this way.
    bool StepsAt(std::int64_t thousandths, std::int64_t& stepsOut) const {
        // Every moving axis of every program line works out one of these: the common case is
        // one product and one division, here where the planner can see it.
        const std::uint64_t b = thousandths < 0 ? 0 - static_cast<std::uint64_t>(thousandths)
                                                : static_cast<std::uint64_t>(thousandths);
        if (b > productLimit_) {
            const std::optional<std::int64_t> slowly = stepsAtSlowly(thousandths);
            stepsOut = slowly.value_or(0);
            return slowly.has_value();
        }
        const std::uint64_t product = mantissa_ * b;
        // The quotient by the divisor's reciprocal, a multiplication where a division would
        // take ten times as long (an arc works out three of these per straight move): the
        // high half of the product is the quotient or one less, and the remainder tells.
        std::uint64_t quotient = highHalf(product, reciprocal_);
        std::uint64_t remainder = product - quotient * divisor_;
        if (remainder >= divisor_) {
            ++quotient;
            remainder -= divisor_;
        }
        const auto steps =
            static_cast<std::int64_t>(quotient + (awayFromZero_ && remainder != 0 ? 1 : 0));
        stepsOut = thousandths < 0 ? -steps : steps;
        return true;
    }

    // StepsAt, taken from `memo` where it was worked out at this very position and setting.
    std::optional<std::int64_t> StepsAt(std::int64_t thousandths, const StepMemo& memo) const;
    // What a state that now shows `thousandths` remembers of its step position `steps`.
    StepMemo Remember(std::int64_t thousandths, std::int64_t steps) const;

    // The count of a move from one shown position to another: |S(to) - S(from)|, none where
    // either S is not counted.
    std::optional<std::uint64_t> StepsBetween(std::int64_t fromThousandths,
                                              std::int64_t toThousandths) const {
        const std::optional<std::int64_t> from = StepsAt(fromThousandths);
        const std::optional<std::int64_t> to = StepsAt(toThousandths);
        if (!from || !to) {
            return std::nullopt;
        }
        return *to >= *from ? static_cast<std::uint64_t>(*to - *from)
                            : static_cast<std::uint64_t>(*from - *to);
    }

    // The nearest position from `fromThousandths` towards `toThousandths` at which the axis
    // has travelled `steps` steps or more (at most the count of the whole move; S must be
    // counted at both ends). Where a split move stops short, its displays show this point.
    std::int64_t PositionAfterSteps(std::int64_t fromThousandths, std::int64_t toThousandths,
                                    std::uint64_t steps) const;

private:
    static std::uint64_t highHalf(std::uint64_t a, std::uint64_t b) {
#if defined(_MSC_VER) && !defined(__clang__)
        return __umulh(a, b);
#else
        __extension__ using Wide = unsigned __int128;
        return static_cast<std::uint64_t>((static_cast<Wide>(a) * b) >> 64);
#endif
    }

    std::optional<std::int64_t> stepsAtSlowly(std::int64_t thousandths) const;
    std::optional<std::int64_t> stepsOfDigits(std::uint64_t magnitude) const;

    // The value is mantissa_ x 10^exponent_ (the "/ 1000" of thousandths folded in). A
    // mantissa of more than 19 significant digits lives in digits_ instead, mantissa_ 0.
    std::uint64_t mantissa_ = 0;
    int exponent_ = 0;
    bool awayFromZero_ = false;
    std::string digits_;
    // The common case: positions of at most productLimit_ thousandths count as
    // mantissa_ x |thousandths| / divisor_, the product within 64 bits.
    std::uint64_t divisor_ = 1;
    std::uint64_t reciprocal_ = ~std::uint64_t{0}; // (2^64 - 1) / divisor_, rounded down
    std::uint64_t productLimit_ = 0;
};

// A step position remembered with what it was worked out from: the shown position and the
// pulses per mm (a setting of more than 19 digits is never remembered). Working it out again
// would give the very same, so a memo is never a second truth, only a division saved: every
// move starts where the one before it ended, whose step position it has just worked out.
struct StepMemo {
    std::int64_t thousandths = 0;
    std::int64_t steps = 0;
    std::uint64_t mantissa = 0;
    int exponent = 0;
    bool awayFromZero = false;
    bool valid = false;
};

inline std::optional<std::int64_t> PulsesPerMm::StepsAt(std::int64_t thousandths,
                                                        const StepMemo& memo) const {
    if (memo.valid && memo.thousandths == thousandths && memo.mantissa == mantissa_ &&
        memo.exponent == exponent_ && memo.awayFromZero == awayFromZero_ && digits_.empty()) {
        return memo.steps;
    }
    return StepsAt(thousandths);
}

inline StepMemo PulsesPerMm::Remember(std::int64_t thousandths, std::int64_t steps) const {
    return StepMemo{thousandths, steps, mantissa_, exponent_, awayFromZero_, digits_.empty()};
}

} // namespace motion

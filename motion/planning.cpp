#include "motion/planning.h"

#include "encoding/number_text.h"
#include "encoding/thousandths.h"
#include "motion/step_position.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace motion {
namespace {

using encoding::Format;
using encoding::NumberOf;

std::string quoted(std::string_view text) {
    std::string q;
    q.reserve(text.size() + 2);
    q.push_back('"');
    q.append(text);
    q.push_back('"');
    return q;
}

PlanError planError(PlanError::Kind kind, std::string message) {
    return PlanError{kind, std::move(message)};
}

std::string axisName(Axis a) {
    return std::string(1, letter(a));
}

// A number with, when its text is shaped as Format writes it and small enough, its exact
// thousandths. An exact number is compared and subtracted as thousandths; its double, a
// division away, is only worked out where it is used.
struct NumberReading {
    double number;            // valid when not exact
    std::int64_t thousandths; // valid when exact
    bool exact;
    std::string_view formatted; // when not empty: the text, exactly as Format writes the number

    double Value() const { return exact ? static_cast<double>(thousandths) / 1000.0 : number; }
};

NumberReading fromThousandths(std::int64_t t) {
    return NumberReading{0.0, t, true, {}};
}

bool isExact(std::int64_t t) {
    return t <= encoding::kExactThousandths && -t <= encoding::kExactThousandths;
}

// Writes a display or distance text over the one a reused result holds. Nearly every such
// text is eight characters ("0012.500"), as long as the one it replaces, and is then simply
// overwritten in place.
void setText(std::string& to, const char* text, std::size_t n) {
    if (n == 8 && to.size() == 8) {
        std::memcpy(to.data(), text, 8);
    } else {
        to.assign(text, n);
    }
}

// Table cells end with a blank; a number text may have blanks on either side.
std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<NumberReading> readNumber(std::string_view text) {
    if (std::int64_t t = 0; encoding::ThousandthsOfFormatted(text, t) && isExact(t)) {
        return fromThousandths(t);
    }
    if (const auto v = NumberOf(text)) {
        return NumberReading{*v, 0, false, {}};
    }
    return std::nullopt;
}

// The number of T = Format(target text). A table cell already holds a formatted text; any
// other plain decimal is rounded on its digits.
std::optional<NumberReading> targetOfText(std::string_view text) {
    const std::string_view cell = trimBlanks(text);
    if (std::int64_t t = 0; encoding::ThousandthsOfFormatted(cell, t) && isExact(t)) {
        NumberReading r = fromThousandths(t);
        // Format writes four integer digits, more only without a leading zero.
        const std::size_t integerDigits = cell.size() - 4 - (cell[0] == '-' ? 1 : 0);
        const char first = cell[cell[0] == '-' ? 1 : 0];
        if (integerDigits == 4 || (integerDigits > 4 && first != '0')) {
            r.formatted = cell;
        }
        return r;
    }
    if (std::int64_t t = 0; encoding::RoundedThousandthsOf(text, t)) {
        return fromThousandths(t);
    }
    return readNumber(Format(text));
}

// A target as the caller gave it: its text, or a number of thousandths whose text is only
// written out when a message quotes it.
struct TargetGiven {
    std::string_view text;
    std::optional<std::int32_t> thousandths;

    std::optional<NumberReading> Read() const {
        return thousandths ? std::optional(fromThousandths(*thousandths)) : targetOfText(text);
    }
    std::string Quoted() const {
        return quoted(thousandths ? encoding::FormatThousandths(*thousandths) : std::string(text));
    }
};

// Target and shown position of one axis, both read before anything moves.
struct AxisEnds {
    NumberReading target;
    NumberReading shown;
};

std::optional<PlanError> readEnds(const AxisState& axis, Axis which,
                                  const std::optional<NumberReading>& target,
                                  const TargetGiven& given, AxisEnds& ends) {
    if (!target) {
        return planError(PlanError::Kind::TargetNotANumber, "The " + axisName(which) + " target " +
                                                                given.Quoted() +
                                                                " is not a number.");
    }
    const std::optional<NumberReading> shown = readNumber(axis.positionText);
    if (!shown) {
        return planError(PlanError::Kind::PositionNotANumber,
                         "The " + axisName(which) + " position display " +
                             quoted(axis.positionText) +
                             " is not a number; zero the axis before moving it.");
    }
    ends = AxisEnds{*target, *shown};
    return std::nullopt;
}

// Step A. The positions are compared as numbers: their texts sort in numeric order only up to
// 9999.999 and only for equal signs. Writes the axis after the move into `to` and fills `echo`,
// which must be fresh. Where the new display is the target's text, `shownAfter` gets its
// thousandths, which the counts need and need not read back.
// The distance an axis travels, as its echo shows it: the text and the number read back from
// it. False when the distance is too long to plan.
bool echoDistance(const AxisEnds& ends, bool exact, bool positive, double target, double shown,
                  AxisEcho& echo) {
    if (exact) {
        // Within kExactThousandths, Format(number(T) - number(P)) is exactly the difference of
        // the thousandths, and so is the number read back from it.
        const std::int64_t d = positive ? ends.target.thousandths - ends.shown.thousandths
                                        : ends.shown.thousandths - ends.target.thousandths;
        char text[encoding::kThousandthsTextMax];
        setText(echo.distanceText, text, encoding::WriteThousandthsText(d, text));
        echo.distanceMm = static_cast<double>(d) / 1000.0;
        return true;
    }
    const double distance = positive ? target - shown : shown - target;
    std::string text = std::isfinite(distance) ? Format(distance) : std::string();
    const std::optional<double> travelled = NumberOf(text);
    if (!travelled) {
        return false;
    }
    echo.distanceText = std::move(text);
    echo.distanceMm = *travelled;
    return true;
}

std::optional<PlanError> moveAxis(const AxisState& from, AxisState& to, Axis which,
                                  const AxisEnds& ends, const TargetGiven& given, AxisEcho& echo,
                                  std::optional<std::int64_t>* shownAfter = nullptr) {
    echo.direction = from.direction;
    const bool exact = ends.target.exact && ends.shown.exact;
    // Distinct thousandths within kExactThousandths are distinct doubles in the same order.
    const double target = exact ? 0.0 : ends.target.Value();
    const double shown = exact ? 0.0 : ends.shown.Value();
    if (exact ? ends.target.thousandths == ends.shown.thousandths : target == shown) {
        if (&to != &from) {
            to = from;
        }
        return std::nullopt;
    }
    const auto tooLong = [&] {
        return planError(PlanError::Kind::MoveTooLong,
                         "The " + axisName(which) + " move from " + from.positionText + " to " +
                             given.Quoted() + " is too long to plan.");
    };
    const bool positive = exact ? ends.target.thousandths > ends.shown.thousandths : target > shown;
    if (!echoDistance(ends, exact, positive, target, shown, echo)) {
        return tooLong();
    }
    const double position =
        positive ? from.positionMm + echo.distanceMm : from.positionMm - echo.distanceMm;
    if (!std::isfinite(position)) {
        return tooLong();
    }
    // The display is Format(position). A tracked position that lies within 0.0004 of T (below
    // 1e9, where Format's 15-digit step moves it by at most 5e-7) rounds to T's thousandths, so
    // its text is T's: P + D lands on T, give or take the drift of the tracked number.
    if (exact && std::fabs(position - ends.target.Value()) < 0.0004 &&
        std::abs(ends.target.thousandths) < 1'000'000'000'000) {
        if (ends.target.formatted.empty()) {
            char text[encoding::kThousandthsTextMax];
            setText(to.positionText, text,
                    encoding::WriteThousandthsText(ends.target.thousandths, text));
        } else {
            setText(to.positionText, ends.target.formatted.data(), ends.target.formatted.size());
        }
        if (shownAfter != nullptr) {
            *shownAfter = ends.target.thousandths;
        }
        // The tracked number is set to the display it rounded to, so no drift builds up over
        // a long program: where the machine is then depends only on the rows that took it
        // there, never on how many rows came before.
        to.positionMm = ends.target.Value();
    } else {
        to.positionText = Format(position);
        to.positionMm = position;
    }
    // Z counts downwards: its bit is 0 for a move up.
    to.direction = which == Axis::Z ? !positive : positive;
    echo.direction = to.direction;
    echo.moved = true;
    return std::nullopt;
}

AxisMove planAxis(const AxisState& axis, Axis which, const std::optional<NumberReading>& target,
                  std::string_view typedTarget) {
    AxisMove m;
    AxisEnds ends;
    const TargetGiven given{typedTarget, std::nullopt};
    m.error = readEnds(axis, which, target, given, ends);
    if (!m.error) {
        m.error = moveAxis(axis, m.after, which, ends, given, m.echo);
    }
    if (m.error) {
        m.after = AxisState{};
        m.echo = AxisEcho{};
    }
    return m;
}

// floor(a * b / n) for a < n and b <= n, exactly, for any n up to 2^64 - 1. Up to 2^32 the
// product fits 64 bits. Beyond, it is multiplied in 32-bit halves into 128 bits and divided
// bit by bit; only a move split more than four billion times comes here.
std::uint64_t mulDivSmall(std::uint64_t a, std::uint64_t b, std::uint64_t n) {
    constexpr std::uint64_t Low = 0xFFFFFFFFu;
    if (n <= Low + 1) {
        return a * b / n;
    }
    const std::uint64_t p0 = (a & Low) * (b & Low);
    const std::uint64_t p1 = (a & Low) * (b >> 32);
    const std::uint64_t p2 = (a >> 32) * (b & Low);
    const std::uint64_t p3 = (a >> 32) * (b >> 32);
    const std::uint64_t middle = (p0 >> 32) + (p1 & Low) + (p2 & Low);
    const std::uint64_t low = (p0 & Low) | (middle << 32);
    // a * b < n * n < n * 2^64, so the high half is below n and the quotient fits 64 bits.
    std::uint64_t rest = p3 + (p1 >> 32) + (p2 >> 32) + (middle >> 32);
    std::uint64_t quotient = 0;
    for (int bit = 63; bit >= 0; --bit) {
        const bool carry = (rest >> 63) != 0; // the shifted rest is 2^64 or more: above n
        rest = (rest << 1) | ((low >> bit) & 1u);
        quotient <<= 1;
        if (carry || rest >= n) {
            rest -= n;
            quotient |= 1u;
        }
    }
    return quotient;
}

// floor(c * m / n) for m <= n, as floor(c / n) * m + floor((c mod n) * m / n): the first term
// is at most c, the second needs the wide product only for very large n.
std::uint64_t scaledFloor(std::uint64_t count, std::uint64_t m, std::uint64_t n) {
    return count / n * m + mulDivSmall(count % n, m, n);
}

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return a / b + (a % b != 0 ? 1 : 0);
}

// One axis of a move as its counts see it: the shown positions before and after, as whole
// thousandths. `shown` is false where a display cannot be read so (beyond 10^15 mm).
struct AxisTravel {
    std::int64_t from = 0;
    std::int64_t to = 0;
    bool shown = true;
    const StepMemo* fromSteps = nullptr; // what the state before remembers, if anything
    std::int64_t fromStepsValue = 0;     // S(from), once the counts are worked out
    std::int64_t toSteps = 0;            // S(to), the same

    bool Moves() const { return !shown || from != to; }
};

AxisTravel travelBetween(std::string_view before, std::string_view after) {
    AxisTravel t;
    t.shown = encoding::ThousandthsOfShownPosition(before, t.from) &&
              encoding::ThousandthsOfShownPosition(after, t.to);
    if (!t.shown && before == after) {
        t = AxisTravel{}; // an axis that stays where it is sends no steps, wherever that is
    }
    return t;
}

std::uint64_t fieldMaxOf(Axis a) {
    return a == Axis::Z ? encoding::kMaxZSteps : encoding::kMaxXYSteps;
}

// One straight leg of a move: its ends as shown positions (thousandths) and their step
// positions, and which axes it moves.
struct Leg {
    std::array<std::int64_t, 3> from{};
    std::array<std::int64_t, 3> to{};
    std::array<std::int64_t, 3> stepsFrom{};
    std::array<std::int64_t, 3> stepsTo{};
    std::array<bool, 3> moves{};
};

// The parts of a move are made here, leg by leg: one part for a leg whose counts fit their
// fields, else n parts where part k ends at the nearest shown position at which the axis has
// travelled floor(c(k + 1) / n) of its c steps. Up to 1000 pulses per mm every step falls on a
// thousandth and the parts are exactly those counts; beyond, a part can end up to a thousandth's
// steps later, and a report more is taken when that would overfill a field. Where no split by
// positions fits (more than a field's steps in one thousandth) the parts end inside thousandths,
// by counts alone. Directions are carried from part to part: an axis that does not step in a
// part keeps the bit of the part before.
class PartMaker {
public:
    PartMaker(const PulsesPerMm& pulses, const std::array<bool, 3>& inverse,
              const std::array<bool, 3>& firstBits, MoveReport& r)
        : pulses_(pulses), inverse_(inverse), bits_(firstBits), r_(r) {}

    // False once the move would take more than MaxReportsPerMove reports.
    bool Add(const Leg& leg) {
        std::array<std::uint64_t, 3> counts{};
        std::uint64_t n = 1;
        for (const Axis a : kAxes) {
            const std::size_t i = index(a);
            counts[i] = distance(leg.stepsFrom[i], leg.stepsTo[i]);
            // Nearly every leg fits its fields: no division for those (an arc has thousands).
            if (counts[i] > fieldMaxOf(a)) {
                n = std::max(n, ceilDiv(counts[i], fieldMaxOf(a)));
            }
        }
        for (const Axis a : kAxes) {
            const std::size_t i = index(a);
            if (leg.stepsTo[i] != leg.stepsFrom[i]) {
                const bool positive = leg.stepsTo[i] > leg.stepsFrom[i];
                bits_[i] = (a == Axis::Z ? !positive : positive) != inverse_[i];
            }
        }
        const std::size_t first = r_.parts.size();
        if (n > MaxReportsPerMove || first + n > MaxReportsPerMove) {
            return false;
        }
        if (n == 1 || !byPositions(leg, counts, n)) {
            byCounts(leg, counts, n);
        }
        return r_.parts.size() <= MaxReportsPerMove;
    }

private:
    static std::uint64_t distance(std::int64_t a, std::int64_t b) {
        return a >= b ? static_cast<std::uint64_t>(a - b) : static_cast<std::uint64_t>(b - a);
    }

    // A part to the leg's end, made in the parts' own room: one made aside and copied in is
    // read back whole right after it was written field by field, which stalls the processor.
    MoveReport::Part& part(const Leg& leg) {
        MoveReport::Part& p = r_.parts.emplace_back();
        p.directions = bits_;
        for (std::size_t i = 0; i < 3; ++i) {
            if (leg.moves[i]) {
                p.shownAfter[i] = leg.to[i];
            }
        }
        p.stepsAfter = leg.stepsTo;
        return p;
    }

    bool byPositions(const Leg& leg, const std::array<std::uint64_t, 3>& counts, std::uint64_t n) {
        constexpr int Attempts = 8;
        const std::size_t first = r_.parts.size();
        for (int attempt = 0; attempt < Attempts && first + n <= MaxReportsPerMove;
             ++attempt, ++n) {
            r_.parts.resize(first);
            std::array<std::int64_t, 3> before = leg.stepsFrom;
            bool fits = true;
            for (std::uint64_t k = 1; k <= n && fits; ++k) {
                MoveReport::Part& p = part(leg);
                if (k < n) {
                    for (const Axis a : kAxes) {
                        const std::size_t i = index(a);
                        p.shownAfter[i].reset();
                        p.stepsAfter[i] = leg.stepsFrom[i];
                        if (leg.from[i] != leg.to[i]) {
                            const std::int64_t at = pulses_.PositionAfterSteps(
                                leg.from[i], leg.to[i], scaledFloor(counts[i], k, n));
                            p.shownAfter[i] = at;
                            p.stepsAfter[i] = pulses_.StepsAt(at).value_or(leg.stepsFrom[i]);
                        }
                    }
                }
                for (const Axis a : kAxes) {
                    const std::size_t i = index(a);
                    fits = fits && distance(p.stepsAfter[i], before[i]) <= fieldMaxOf(a);
                    before[i] = p.stepsAfter[i];
                }
            }
            if (fits) {
                return true;
            }
        }
        r_.parts.resize(first);
        return false;
    }

    void byCounts(const Leg& leg, const std::array<std::uint64_t, 3>& counts, std::uint64_t n) {
        for (std::uint64_t k = 1; k <= n; ++k) {
            MoveReport::Part& p = part(leg);
            if (k < n) {
                for (std::size_t i = 0; i < 3; ++i) {
                    p.shownAfter[i].reset();
                    const auto travelled = static_cast<std::int64_t>(scaledFloor(counts[i], k, n));
                    p.stepsAfter[i] = leg.stepsFrom[i] +
                                      (leg.stepsTo[i] >= leg.stepsFrom[i] ? travelled : -travelled);
                }
            }
        }
    }

    const PulsesPerMm& pulses_;
    const std::array<bool, 3>& inverse_;
    std::array<bool, 3> bits_;
    MoveReport& r_;
};

PlanError tooManySteps(Axis a, std::string_view distanceText, const PlanSettings& settings) {
    return planError(PlanError::Kind::TooManySteps,
                     "The " + axisName(a) + " move of " + std::string(distanceText) + " mm at " +
                         settings.pulsesPerMmText +
                         " pulses per mm needs more steps than can be counted.");
}

// The counts of a straight move: S(after) - S(before) on each axis that moves.
bool countStraight(std::array<AxisTravel, 3>& travel,
                   const std::array<std::string_view, 3>& distanceTexts,
                   const PreparedPlanSettings& prepared, MoveReport& r) {
    const PulsesPerMm& pulses = prepared.pulses;
    for (const Axis a : kAxes) {
        AxisTravel& t = travel[index(a)];
        std::optional<std::uint64_t> steps = 0;
        if (t.Moves() && !pulses.IsZero()) {
            steps.reset();
            const std::optional<std::int64_t> from = !t.shown ? std::nullopt
                                                     : t.fromSteps
                                                         ? pulses.StepsAt(t.from, *t.fromSteps)
                                                         : pulses.StepsAt(t.from);
            const std::optional<std::int64_t> to = t.shown ? pulses.StepsAt(t.to) : std::nullopt;
            if (from && to) {
                t.fromStepsValue = *from;
                t.toSteps = *to;
                steps = *to >= *from ? static_cast<std::uint64_t>(*to - *from)
                                     : static_cast<std::uint64_t>(*from - *to);
            }
        }
        if (!steps) {
            r.error = tooManySteps(a, distanceTexts[index(a)], prepared.fields);
            return false;
        }
        r.steps[index(a)] = *steps;
    }
    const std::array<std::uint64_t, 3> reportsNeeded = {ceilDiv(r.steps[0], encoding::kMaxXYSteps),
                                                        ceilDiv(r.steps[1], encoding::kMaxXYSteps),
                                                        ceilDiv(r.steps[2], encoding::kMaxZSteps)};
    for (const Axis a : kAxes) {
        if (reportsNeeded[index(a)] > MaxReportsPerMove) {
            r.error = planError(
                PlanError::Kind::TooManyReports,
                "The " + axisName(a) + " move of " + std::string(distanceTexts[index(a)]) +
                    " mm at " + prepared.fields.pulsesPerMmText + " pulses per mm needs " +
                    std::to_string(r.steps[index(a)]) + " steps, " +
                    std::to_string(reportsNeeded[index(a)]) + " reports of at most " +
                    std::to_string(fieldMaxOf(a)) + " steps each; a move is sent as at most " +
                    std::to_string(MaxReportsPerMove) +
                    " reports. Check the target, or split the move into shorter ones.");
            return false;
        }
    }
    r.reportCount =
        std::max({std::uint64_t{1}, reportsNeeded[0], reportsNeeded[1], reportsNeeded[2]});
    return true;
}

// floor(PW delay / floor(speed)) into the report, or why there is none.
bool timeReport(const PreparedPlanSettings& prepared, std::string_view speedText,
                const std::optional<std::int32_t>& speedThousandths, MoveReport& r) {
    const PlanSettings& settings = prepared.fields;
    double wholeSpeed = 0;
    double period = 0;
    const auto& last = prepared.lastSpeed;
    if (speedThousandths && last && last->speedThousandths == *speedThousandths) {
        wholeSpeed = last->wholeSpeed;
        period = last->period;
    } else {
        const std::optional<NumberReading> speed =
            speedThousandths ? std::optional(fromThousandths(*speedThousandths))
                             : readNumber(trimBlanks(speedText));
        if (!speed) {
            r.error = planError(PlanError::Kind::SpeedNotANumber,
                                "The speed " + quoted(speedText) + " is not a number.");
            return false;
        }
        wholeSpeed = std::floor(speed->Value());
        if (prepared.pwDelay && wholeSpeed >= 1) {
            period = std::floor(*prepared.pwDelay / wholeSpeed);
            if (speedThousandths) {
                prepared.lastSpeed =
                    PreparedPlanSettings::SpeedPeriod{*speedThousandths, wholeSpeed, period};
            }
        }
    }
    if (wholeSpeed < 1) {
        r.error = planError(PlanError::Kind::SpeedBelowOne,
                            "Speed must be at least 1 mm/min: " +
                                quoted(speedText.empty() && speedThousandths
                                           ? encoding::FormatThousandths(*speedThousandths)
                                           : std::string(speedText)) +
                                ".");
        return false;
    }
    if (!prepared.pwDelay) {
        r.error = planError(PlanError::Kind::PwDelayNotANumber,
                            "The PW delay " + quoted(settings.pwDelayText) + " is not a number.");
        return false;
    }
    if (period > encoding::kMaxStepPeriod) {
        r.error = planError(PlanError::Kind::StepPeriodTooLong,
                            "Step period too long: PW delay " + settings.pwDelayText + " at " +
                                encoding::FormatSignificant(wholeSpeed) + " mm/min gives " +
                                encoding::FormatSignificant(period) +
                                ", but a report holds at most 65535. Raise the speed or lower "
                                "the PW delay.");
        return false;
    }
    // A negative period has no bits to send: the field is 0, the fastest rate.
    r.stepPeriod = period > 0 ? static_cast<std::uint32_t>(period) : 0;
    return true;
}

PlanError tooManyReports(const PlanSettings& settings) {
    return planError(PlanError::Kind::TooManyReports,
                     "This move needs more than " + std::to_string(MaxReportsPerMove) +
                         " reports at " + settings.pulsesPerMmText +
                         " pulses per mm; a move is sent as at most that many. Check the "
                         "target, or raise the arc tolerance.");
}

// A path through `via` to the move's end: every vertex a shown position, every leg a part (or
// several where its counts are too wide), each with its own direction bits.
bool buildPath(const std::array<std::int64_t, 3>& start,
               std::span<const std::array<std::int64_t, 3>> via,
               const std::array<std::int64_t, 3>& end,
               const std::array<std::string_view, 3>& distanceTexts,
               const PreparedPlanSettings& prepared, MoveReport& r) {
    const PulsesPerMm& pulses = prepared.pulses;
    const auto stepsOf = [&](const std::array<std::int64_t, 3>& p,
                             std::array<std::int64_t, 3>& steps) {
        for (const Axis a : kAxes) {
            if (!pulses.StepsAt(p[index(a)], steps[index(a)])) {
                r.error = tooManySteps(a, distanceTexts[index(a)], prepared.fields);
                return false;
            }
        }
        return true;
    };
    Leg leg;
    leg.to = start;
    if (!stepsOf(start, leg.stepsTo)) {
        return false;
    }
    r.stepsBefore = leg.stepsTo;
    r.steps = {};
    PartMaker maker(pulses, prepared.fields.inverse, r.directions, r);
    for (std::size_t k = 0; k <= via.size(); ++k) {
        leg.from = leg.to;
        leg.stepsFrom = leg.stepsTo;
        leg.to = k < via.size() ? via[k] : end;
        if (!stepsOf(leg.to, leg.stepsTo)) {
            return false;
        }
        for (std::size_t i = 0; i < 3; ++i) {
            leg.moves[i] = leg.to[i] != leg.from[i];
            r.steps[i] += leg.stepsTo[i] >= leg.stepsFrom[i]
                              ? static_cast<std::uint64_t>(leg.stepsTo[i] - leg.stepsFrom[i])
                              : static_cast<std::uint64_t>(leg.stepsFrom[i] - leg.stepsTo[i]);
        }
        // Two vertices on one thousandth are one: no report goes out for a leg of nothing.
        const bool last = k == via.size();
        if ((leg.moves != std::array<bool, 3>{} || (last && r.parts.empty())) && !maker.Add(leg)) {
            r.error = tooManyReports(prepared.fields);
            return false;
        }
    }
    return true;
}

// Steps B to E over the shown positions as thousandths; the texts are only for the messages.
// A move with `via` vertices is a path (an arc) from `pathStart`, the shown position of every
// axis, to `pathEnd`.
void buildReport(const MachineState& planned, std::array<AxisTravel, 3>& travel,
                 const std::array<std::string_view, 3>& distanceTexts,
                 const PreparedPlanSettings& prepared, std::string_view speedText,
                 const std::optional<std::int32_t>& speedThousandths, bool rapid, MoveReport& r,
                 std::span<const std::array<std::int64_t, 3>> via = {},
                 const std::array<std::int64_t, 3>& pathStart = {},
                 const std::array<std::int64_t, 3>& pathEnd = {}) {
    const PlanSettings& settings = prepared.fields;
    if (via.empty() && !countStraight(travel, distanceTexts, prepared, r)) {
        return;
    }
    if (!timeReport(prepared, speedText, speedThousandths, r)) {
        return;
    }
    for (const Axis a : kAxes) {
        r.directions[index(a)] = planned[a].direction != settings.inverse[index(a)];
    }
    r.rapid = rapid;
    r.limitsDisabled = settings.limitsDisabled;
    if (!via.empty()) {
        r.followsPath = true;
        if (!buildPath(pathStart, via, pathEnd, distanceTexts, prepared, r)) {
            return;
        }
    } else if (r.reportCount > 1) {
        Leg leg;
        for (const Axis a : kAxes) {
            const std::size_t i = index(a);
            const AxisTravel& t = travel[i];
            leg.moves[i] = t.Moves();
            leg.from[i] = t.from;
            leg.to[i] = t.to;
            leg.stepsFrom[i] = leg.moves[i] ? t.fromStepsValue : 0;
            leg.stepsTo[i] = leg.moves[i] ? t.toSteps : 0;
        }
        r.stepsBefore = leg.stepsFrom;
        PartMaker(prepared.pulses, settings.inverse, r.directions, r).Add(leg);
    }
    if (!r.parts.empty()) {
        r.reportCount = r.parts.size();
        r.directions = r.parts.back().directions;
    }
}

// The report of a path (an arc's vertices) once its end is planned: from the shown positions
// of every axis through the vertices to the shown positions after.
void planPath(const MachineState& state, const PreparedPlanSettings& settings,
              const MoveRequest& request, const std::array<std::string_view, 3>& distanceTexts,
              PlannedMove& out) {
    std::array<std::int64_t, 3> start{};
    std::array<std::int64_t, 3> end{};
    for (const Axis a : kAxes) {
        if (!encoding::ThousandthsOfShownPosition(state[a].positionText, start[index(a)]) ||
            !encoding::ThousandthsOfShownPosition(out.after[a].positionText, end[index(a)])) {
            out.report.error = tooManySteps(a, distanceTexts[index(a)], settings.fields);
            out.error = out.report.error;
            return;
        }
    }
    std::array<AxisTravel, 3> unused;
    buildReport(out.after, unused, distanceTexts, settings, request.speedText,
                request.speedThousandths, request.rapid, out.report, request.via, start, end);
    if (out.report.error) {
        out.error = out.report.error;
        return;
    }
    const std::array<std::int64_t, 3>& stepsAfter = out.report.parts.back().stepsAfter;
    for (const Axis a : kAxes) {
        out.after[a].direction = out.report.directions[index(a)];
        out.after[a].steps = settings.pulses.Remember(end[index(a)], stepsAfter[index(a)]);
    }
}

} // namespace

PreparedPlanSettings::PreparedPlanSettings(PlanSettings settings)
    : fields(std::move(settings)), pulses(fields.pulsesPerMmText),
      pwDelay(NumberOf(fields.pwDelayText)) {}

std::uint64_t SplitPart(std::uint64_t count, std::uint64_t k, std::uint64_t n) {
    if (n <= 1 || k >= n) {
        return k == 0 ? count : 0; // one report carries the whole count; no part beyond the last
    }
    return scaledFloor(count, k + 1, n) - scaledFloor(count, k, n);
}

AxisMove PlanAxisMove(const AxisState& axis, Axis which, double targetMm) {
    const std::string target = Format(targetMm);
    return planAxis(axis, which, readNumber(target), target);
}

AxisMove PlanAxisMove(const AxisState& axis, Axis which, std::string_view targetText) {
    return planAxis(axis, which, targetOfText(targetText), targetText);
}

MoveReport BuildMoveReport(const MachineState& before, const MachineState& planned,
                           const std::array<std::string_view, 3>& distanceTexts,
                           const PlanSettings& settings, std::string_view speedText, bool rapid) {
    MoveReport r;
    std::array<AxisTravel, 3> travel;
    for (const Axis a : kAxes) {
        travel[index(a)] = travelBetween(before[a].positionText, planned[a].positionText);
        travel[index(a)].fromSteps = &before[a].steps;
    }
    buildReport(planned, travel, distanceTexts, PreparedPlanSettings(settings), speedText,
                std::nullopt, rapid, r);
    return r;
}

std::uint64_t MoveReport::PartSteps(Axis a, std::uint64_t part) const {
    if (part >= reportCount) {
        return 0;
    }
    if (parts.empty()) {
        return SplitPart(steps[index(a)], part, reportCount); // one report, or a count alone
    }
    const std::size_t i = index(a);
    const std::int64_t before = part == 0 ? stepsBefore[i] : parts[part - 1].stepsAfter[i];
    const std::int64_t after = parts[part].stepsAfter[i];
    return after >= before ? static_cast<std::uint64_t>(after - before)
                           : static_cast<std::uint64_t>(before - after);
}

std::optional<encoding::MotionReport> MoveReport::Report(std::uint64_t part) const {
    if (error || part >= reportCount) {
        return std::nullopt;
    }
    const std::array<bool, 3>& bits = parts.empty() ? directions : parts[part].directions;
    encoding::MotionFields f;
    f.limitsDisabled = limitsDisabled;
    f.rapid = rapid;
    f.xDirection = bits[0];
    f.yDirection = bits[1];
    f.zDirection = bits[2];
    if (reportCount == 1) {
        f.xSteps = static_cast<std::uint32_t>(steps[0]);
        f.ySteps = static_cast<std::uint32_t>(steps[1]);
        f.zSteps = static_cast<std::uint32_t>(steps[2]);
    } else {
        f.xSteps = static_cast<std::uint32_t>(PartSteps(Axis::X, part));
        f.ySteps = static_cast<std::uint32_t>(PartSteps(Axis::Y, part));
        f.zSteps = static_cast<std::uint32_t>(PartSteps(Axis::Z, part));
    }
    f.stepPeriod = stepPeriod;
    return encoding::MotionReport::Encode(f);
}

std::optional<std::array<std::optional<std::int64_t>, 3>>
MoveReport::ShownAfterPart(std::uint64_t part) const {
    if (error || part + 1 >= reportCount || parts.empty()) {
        return std::nullopt;
    }
    return parts[part].shownAfter;
}

std::string MoveReport::StepsText(Axis a) const {
    return std::to_string(steps[index(a)]);
}

std::string MoveReport::XBinaryText() const {
    if (error || reportCount == 0) {
        return {};
    }
    const std::uint64_t x = reportCount == 1 ? steps[0] : PartSteps(Axis::X, 0);
    std::string bits(24, '0');
    for (std::size_t i = 0; i < 24; ++i) {
        if (((x >> (23 - i)) & 1U) != 0) {
            bits[i] = '1';
        }
    }
    return bits;
}

std::optional<std::string> MoveReport::SplitNotice() const {
    if (!Split()) {
        return std::nullopt;
    }
    std::string why;
    for (const Axis a : kAxes) {
        const std::uint64_t fieldMax = a == Axis::Z ? encoding::kMaxZSteps : encoding::kMaxXYSteps;
        if (steps[index(a)] > fieldMax) {
            why += (why.empty() ? "" : ", ") + axisName(a) + " needs " +
                   std::to_string(steps[index(a)]) + " steps (one report carries " +
                   std::to_string(fieldMax) + ")";
        }
    }
    return "This move is sent as " + std::to_string(reportCount) + " reports in turn: " + why + ".";
}

PlannedMove PlanMove(const MachineState& state, const PlanSettings& settings,
                     const MoveRequest& request) {
    return PlanMove(state, PreparedPlanSettings(settings), request);
}

PlannedMove PlanMove(const MachineState& state, const PreparedPlanSettings& settings,
                     const MoveRequest& request) {
    PlannedMove out;
    PlanMove(state, settings, request, out);
    return out;
}

namespace {

// A result reused from move to move made fresh, field by field: a whole fresh result would be
// built and moved in on every line. The parts' room is kept: an arc's parts are made again on
// every row.
void resetMove(PlannedMove& out) {
    out.error.reset();
    for (std::optional<AxisEcho>& echo : out.echoes) {
        echo.reset();
    }
    std::vector<MoveReport::Part> parts = std::move(out.report.parts);
    parts.clear();
    out.report = MoveReport();
    out.report.parts = std::move(parts);
}

TargetGiven givenOf(const MoveRequest& request, Axis a) {
    return TargetGiven{request.targets[index(a)].value_or(std::string_view()),
                       request.targetThousandths[index(a)]};
}

// Each planned axis to its target: the displays after, the echoes, the distance texts and the
// travel the counts are made from. An error leaves the machine where it was.
bool moveAxes(const MachineState& state, const MoveRequest& request, const AxisEnds (&ends)[3],
              std::array<std::string_view, 3>& distanceTexts, std::array<AxisTravel, 3>& travel,
              PlannedMove& out) {
    for (const Axis a : kAxes) {
        if (!request.Plans(a)) {
            out.after[a] = state[a];
            continue;
        }
        AxisEcho& echo = out.echoes[index(a)].emplace();
        std::optional<std::int64_t> shownAfter;
        out.error = moveAxis(state[a], out.after[a], a, ends[index(a)], givenOf(request, a), echo,
                             &shownAfter);
        if (out.error) {
            out.after = state;
            out.echoes = {};
            return false;
        }
        distanceTexts[index(a)] = echo.distanceText;
        if (echo.moved) {
            // The display before was read already when its text is shaped as Format writes it.
            const NumberReading& shown = ends[index(a)].shown;
            AxisTravel& t = travel[index(a)];
            t.fromSteps = &state[a].steps;
            t.from = shown.thousandths;
            t.to = shownAfter.value_or(0);
            t.shown = (shown.exact ||
                       encoding::ThousandthsOfShownPosition(state[a].positionText, t.from)) &&
                      (shownAfter ||
                       encoding::ThousandthsOfShownPosition(out.after[a].positionText, t.to));
        }
    }
    return true;
}

} // namespace

void PlanMove(const MachineState& state, const PreparedPlanSettings& settings,
              const MoveRequest& request, PlannedMove& out) {
    resetMove(out);
    // Every target and shown position is read before any axis advances.
    AxisEnds ends[3];
    for (const Axis a : kAxes) {
        if (request.Plans(a)) {
            const TargetGiven target = givenOf(request, a);
            out.error = readEnds(state[a], a, target.Read(), target, ends[index(a)]);
            if (out.error) {
                out.after = state;
                return;
            }
        }
    }
    std::array<std::string_view, 3> distanceTexts{"0000.000", "0000.000", "0000.000"};
    std::array<AxisTravel, 3> travel;
    if (!moveAxes(state, request, ends, distanceTexts, travel, out)) {
        return;
    }
    if (!request.via.empty()) {
        planPath(state, settings, request, distanceTexts, out);
        return;
    }
    buildReport(out.after, travel, distanceTexts, settings, request.speedText,
                request.speedThousandths, request.rapid, out.report);
    if (out.report.error) {
        out.error = out.report.error;
        return;
    }
    for (const Axis a : kAxes) {
        out.after[a].direction = out.report.directions[index(a)];
        if (const AxisTravel& t = travel[index(a)]; t.Moves()) {
            out.after[a].steps = settings.pulses.Remember(t.to, t.toSteps);
        }
    }
}

} // namespace motion

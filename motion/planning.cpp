#include "motion/planning.h"

#include "encoding/number_text.h"
#include "encoding/thousandths.h"

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

// Counts beyond 2^53 are not whole numbers in a double any more, so they cannot be split
// exactly; no real move comes near (2^53 steps at 533.333 pulses per mm is 1.7e13 mm).
constexpr double kMaxCountableSteps = 9007199254740992.0;

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
// which must be fresh.
std::optional<PlanError> moveAxis(const AxisState& from, AxisState& to, Axis which,
                                  const AxisEnds& ends, const TargetGiven& given, AxisEcho& echo) {
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
    if (exact) {
        // Within kExactThousandths, Format(number(T) - number(P)) is exactly the difference of
        // the thousandths, and so is the number read back from it.
        const std::int64_t d = positive ? ends.target.thousandths - ends.shown.thousandths
                                        : ends.shown.thousandths - ends.target.thousandths;
        char text[encoding::kThousandthsTextMax];
        setText(echo.distanceText, text, encoding::WriteThousandthsText(d, text));
        echo.distanceMm = static_cast<double>(d) / 1000.0;
    } else {
        const double distance = positive ? target - shown : shown - target;
        std::string text = std::isfinite(distance) ? Format(distance) : std::string();
        const std::optional<double> travelled = NumberOf(text);
        if (!travelled) {
            return tooLong();
        }
        echo.distanceText = std::move(text);
        echo.distanceMm = *travelled;
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
            to.positionText.assign(ends.target.formatted);
        }
    } else {
        to.positionText = Format(position);
    }
    to.positionMm = position;
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

// Steps B to E over the distances as numbers; the texts are only for the messages.
void buildReport(const MachineState& planned, const std::array<double, 3>& distancesMm,
                 const std::array<std::string_view, 3>& distanceTexts,
                 const PreparedPlanSettings& prepared, std::string_view speedText,
                 const std::optional<std::int32_t>& speedThousandths, bool rapid, MoveReport& r) {
    const PlanSettings& settings = prepared.fields;
    const double pulsesPerMm = prepared.pulsesPerMm;
    for (const Axis a : kAxes) {
        // A negative pulses-per-mm setting gives a negative count; only its sign is dropped.
        const double steps = std::floor(pulsesPerMm * distancesMm[index(a)]);
        if (!(std::fabs(steps) <= kMaxCountableSteps)) {
            r.error = planError(PlanError::Kind::TooManySteps,
                                "The " + axisName(a) + " move of " +
                                    std::string(distanceTexts[index(a)]) + " mm at " +
                                    settings.pulsesPerMmText +
                                    " pulses per mm needs more steps than can be counted.");
            return;
        }
        r.steps[index(a)] = static_cast<std::uint64_t>(std::fabs(steps));
    }
    const std::array<std::uint64_t, 3> reportsNeeded = {ceilDiv(r.steps[0], encoding::kMaxXYSteps),
                                                        ceilDiv(r.steps[1], encoding::kMaxXYSteps),
                                                        ceilDiv(r.steps[2], encoding::kMaxZSteps)};
    for (const Axis a : kAxes) {
        if (reportsNeeded[index(a)] > MaxReportsPerMove) {
            const std::uint64_t fieldMax =
                a == Axis::Z ? encoding::kMaxZSteps : encoding::kMaxXYSteps;
            r.error = planError(
                PlanError::Kind::TooManyReports,
                "The " + axisName(a) + " move of " + std::string(distanceTexts[index(a)]) +
                    " mm at " + settings.pulsesPerMmText + " pulses per mm needs " +
                    std::to_string(r.steps[index(a)]) + " steps, " +
                    std::to_string(reportsNeeded[index(a)]) + " reports of at most " +
                    std::to_string(fieldMax) + " steps each; a move is sent as at most " +
                    std::to_string(MaxReportsPerMove) +
                    " reports. Check the target, or split the move into shorter ones.");
            return;
        }
    }

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
            return;
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
        return;
    }
    const std::optional<double>& pwDelay = prepared.pwDelay;
    if (!pwDelay) {
        r.error = planError(PlanError::Kind::PwDelayNotANumber,
                            "The PW delay " + quoted(settings.pwDelayText) + " is not a number.");
        return;
    }
    if (period > encoding::kMaxStepPeriod) {
        r.error = planError(PlanError::Kind::StepPeriodTooLong,
                            "Step period too long: PW delay " + settings.pwDelayText + " at " +
                                encoding::FormatSignificant(wholeSpeed) + " mm/min gives " +
                                encoding::FormatSignificant(period) +
                                ", but a report holds at most 65535. Raise the speed or lower "
                                "the PW delay.");
        return;
    }
    // A negative period has no bits to send: the field is 0, the fastest rate.
    r.stepPeriod = period > 0 ? static_cast<std::uint32_t>(period) : 0;

    for (const Axis a : kAxes) {
        r.directions[index(a)] = planned[a].direction != settings.inverse[index(a)];
    }
    r.rapid = rapid;
    r.limitsDisabled = settings.limitsDisabled;
    r.reportCount =
        std::max({std::uint64_t{1}, reportsNeeded[0], reportsNeeded[1], reportsNeeded[2]});
}

} // namespace

PreparedPlanSettings::PreparedPlanSettings(PlanSettings settings)
    : fields(std::move(settings)), pulsesPerMm(encoding::Val(fields.pulsesPerMmText)),
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

MoveReport BuildMoveReport(const MachineState& planned,
                           const std::array<std::string_view, 3>& distanceTexts,
                           const PlanSettings& settings, std::string_view speedText, bool rapid) {
    MoveReport r;
    std::array<double, 3> distancesMm{};
    for (const Axis a : kAxes) {
        const std::optional<NumberReading> d = readNumber(distanceTexts[index(a)]);
        if (!d) {
            r.error = planError(PlanError::Kind::DistanceNotANumber,
                                "The " + axisName(a) + " distance " +
                                    quoted(distanceTexts[index(a)]) + " is not a number.");
            return r;
        }
        distancesMm[index(a)] = d->Value();
    }
    buildReport(planned, distancesMm, distanceTexts, PreparedPlanSettings(settings), speedText,
                std::nullopt, rapid, r);
    return r;
}

std::optional<encoding::MotionReport> MoveReport::Report(std::uint64_t part) const {
    if (error || part >= reportCount) {
        return std::nullopt;
    }
    encoding::MotionFields f;
    f.limitsDisabled = limitsDisabled;
    f.rapid = rapid;
    f.xDirection = directions[0];
    f.yDirection = directions[1];
    f.zDirection = directions[2];
    f.xSteps = static_cast<std::uint32_t>(SplitPart(steps[0], part, reportCount));
    f.ySteps = static_cast<std::uint32_t>(SplitPart(steps[1], part, reportCount));
    f.zSteps = static_cast<std::uint32_t>(SplitPart(steps[2], part, reportCount));
    f.stepPeriod = stepPeriod;
    return encoding::MotionReport::Encode(f);
}

std::string MoveReport::StepsText(Axis a) const {
    return std::to_string(steps[index(a)]);
}

std::string MoveReport::XBinaryText() const {
    if (error || reportCount == 0) {
        return {};
    }
    const std::uint64_t x = SplitPart(steps[0], 0, reportCount);
    std::string bits(24, '0');
    for (std::size_t i = 0; i < 24; ++i) {
        if (((x >> (23 - i)) & 1U) != 0) {
            bits[i] = '1';
        }
    }
    return bits;
}

std::optional<std::string> MoveReport::SplitNotice() const {
    if (error || reportCount <= 1) {
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

void PlanMove(const MachineState& state, const PreparedPlanSettings& settings,
              const MoveRequest& request, PlannedMove& out) {
    // Reset field by field: a whole fresh result would be built and moved in on every line.
    out.error.reset();
    for (std::optional<AxisEcho>& echo : out.echoes) {
        echo.reset();
    }
    out.report = MoveReport();
    const auto given = [&](Axis a) {
        return TargetGiven{request.targets[index(a)].value_or(std::string_view()),
                           request.targetThousandths[index(a)]};
    };
    // Every target and shown position is read before any axis advances.
    AxisEnds ends[3];
    for (const Axis a : kAxes) {
        if (request.Plans(a)) {
            const TargetGiven target = given(a);
            out.error = readEnds(state[a], a, target.Read(), target, ends[index(a)]);
            if (out.error) {
                out.after = state;
                return;
            }
        }
    }
    std::array<std::string_view, 3> distanceTexts{"0000.000", "0000.000", "0000.000"};
    std::array<double, 3> distancesMm{};
    for (const Axis a : kAxes) {
        if (!request.Plans(a)) {
            out.after[a] = state[a];
            continue;
        }
        AxisEcho& echo = out.echoes[index(a)].emplace();
        out.error = moveAxis(state[a], out.after[a], a, ends[index(a)], given(a), echo);
        if (out.error) {
            out.after = state;
            out.echoes = {};
            return;
        }
        distanceTexts[index(a)] = echo.distanceText;
        distancesMm[index(a)] = echo.distanceMm;
    }
    buildReport(out.after, distancesMm, distanceTexts, settings, request.speedText,
                request.speedThousandths, request.rapid, out.report);
    if (out.report.error) {
        out.error = out.report.error;
        return;
    }
    for (const Axis a : kAxes) {
        out.after[a].direction = out.report.directions[index(a)];
    }
}

} // namespace motion

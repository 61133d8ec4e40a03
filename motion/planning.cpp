#include "motion/planning.h"

#include "encoding/number_text.h"
#include "encoding/thousandths.h"

#include <algorithm>
#include <cmath>
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
// thousandths.
struct NumberReading {
    double value;
    std::int64_t thousandths; // valid when exact
    bool exact;
    std::string_view formatted; // when not empty: the text, exactly as Format writes the number
};

NumberReading fromThousandths(std::int64_t t) {
    return NumberReading{static_cast<double>(t) / 1000.0, t, true, {}};
}

bool isExact(std::int64_t t) {
    return t <= encoding::kExactThousandths && -t <= encoding::kExactThousandths;
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

// Target and shown position of one axis, both read before anything moves.
struct AxisEnds {
    NumberReading target;
    NumberReading shown;
};

std::optional<PlanError> readEnds(const AxisState& axis, Axis which,
                                  const std::optional<NumberReading>& target,
                                  std::string_view typedTarget, AxisEnds& ends) {
    if (!target) {
        return planError(PlanError::Kind::TargetNotANumber, "The " + axisName(which) + " target " +
                                                                quoted(typedTarget) +
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
                                  const AxisEnds& ends, std::string_view typedTarget,
                                  AxisEcho& echo) {
    echo.direction = from.direction;
    if (ends.target.value == ends.shown.value) {
        if (&to != &from) {
            to = from;
        }
        return std::nullopt;
    }
    const auto tooLong = [&] {
        return planError(PlanError::Kind::MoveTooLong,
                         "The " + axisName(which) + " move from " + from.positionText + " to " +
                             quoted(typedTarget) + " is too long to plan.");
    };
    const bool positive = ends.target.value > ends.shown.value;
    const bool exact = ends.target.exact && ends.shown.exact;
    if (exact) {
        // Within kExactThousandths, Format(number(T) - number(P)) is exactly the difference of
        // the thousandths, and so is the number read back from it.
        const std::int64_t d = positive ? ends.target.thousandths - ends.shown.thousandths
                                        : ends.shown.thousandths - ends.target.thousandths;
        echo.distanceText = encoding::FormatThousandths(d);
        echo.distanceMm = static_cast<double>(d) / 1000.0;
    } else {
        const double distance =
            positive ? ends.target.value - ends.shown.value : ends.shown.value - ends.target.value;
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
    if (exact && std::fabs(position - ends.target.value) < 0.0004 &&
        std::fabs(ends.target.value) < 1e9) {
        if (ends.target.formatted.empty()) {
            to.positionText = encoding::FormatThousandths(ends.target.thousandths);
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
    m.error = readEnds(axis, which, target, typedTarget, ends);
    if (!m.error) {
        m.error = moveAxis(axis, m.after, which, ends, typedTarget, m.echo);
    }
    if (m.error) {
        m.after = AxisState{};
        m.echo = AxisEcho{};
    }
    return m;
}

// floor(c(k+1)/n) - floor(ck/n): the k-th of n parts of c, the parts adding up to c exactly.
std::uint64_t partOf(std::uint64_t count, std::uint64_t k, std::uint64_t n) {
    if (n == 1) {
        return count;
    }
    __extension__ using Wide = unsigned __int128; // c(k+1) reaches 2^90
    const Wide c = count;
    return static_cast<std::uint64_t>(c * (k + 1) / n - c * k / n);
}

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return a / b + (a % b != 0 ? 1 : 0);
}

// Steps B to E over the distances as numbers; the texts are only for the messages.
void buildReport(const MachineState& planned, const std::array<double, 3>& distancesMm,
                 const std::array<std::string_view, 3>& distanceTexts, const PlanSettings& settings,
                 std::string_view speedText, bool rapid, MoveReport& r) {
    const double pulsesPerMm = encoding::Val(settings.pulsesPerMmText);
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

    const std::optional<NumberReading> speed = readNumber(trimBlanks(speedText));
    if (!speed) {
        r.error = planError(PlanError::Kind::SpeedNotANumber,
                            "The speed " + quoted(speedText) + " is not a number.");
        return;
    }
    const double wholeSpeed = std::floor(speed->value);
    if (wholeSpeed < 1) {
        r.error = planError(PlanError::Kind::SpeedBelowOne,
                            "Speed must be at least 1 mm/min: " + quoted(speedText) + ".");
        return;
    }
    const std::optional<double> pwDelay = NumberOf(settings.pwDelayText);
    if (!pwDelay) {
        r.error = planError(PlanError::Kind::PwDelayNotANumber,
                            "The PW delay " + quoted(settings.pwDelayText) + " is not a number.");
        return;
    }
    const double period = std::floor(*pwDelay / wholeSpeed);
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
    r.reportCount = std::max({std::uint64_t{1}, ceilDiv(r.steps[0], encoding::kMaxXYSteps),
                              ceilDiv(r.steps[1], encoding::kMaxXYSteps),
                              ceilDiv(r.steps[2], encoding::kMaxZSteps)});
}

} // namespace

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
        distancesMm[index(a)] = d->value;
    }
    buildReport(planned, distancesMm, distanceTexts, settings, speedText, rapid, r);
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
    f.xSteps = static_cast<std::uint32_t>(partOf(steps[0], part, reportCount));
    f.ySteps = static_cast<std::uint32_t>(partOf(steps[1], part, reportCount));
    f.zSteps = static_cast<std::uint32_t>(partOf(steps[2], part, reportCount));
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
    const std::uint64_t x = partOf(steps[0], 0, reportCount);
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
    PlannedMove out;
    // Every target and shown position is read before any axis advances.
    AxisEnds ends[3];
    for (const Axis a : kAxes) {
        if (const auto& target = request.targets[index(a)]) {
            out.error = readEnds(state[a], a, targetOfText(*target), *target, ends[index(a)]);
            if (out.error) {
                out.after = state;
                return out;
            }
        }
    }
    std::array<std::string_view, 3> distanceTexts{"0000.000", "0000.000", "0000.000"};
    std::array<double, 3> distancesMm{};
    for (const Axis a : kAxes) {
        const std::optional<std::string_view>& target = request.targets[index(a)];
        if (!target) {
            out.after[a] = state[a];
            continue;
        }
        AxisEcho& echo = out.echoes[index(a)].emplace();
        out.error = moveAxis(state[a], out.after[a], a, ends[index(a)], *target, echo);
        if (out.error) {
            out.after = state;
            out.echoes = {};
            return out;
        }
        distanceTexts[index(a)] = echo.distanceText;
        distancesMm[index(a)] = echo.distanceMm;
    }
    buildReport(out.after, distancesMm, distanceTexts, settings, request.speedText, request.rapid,
                out.report);
    if (out.report.error) {
        out.error = out.report.error;
        return out;
    }
    for (const Axis a : kAxes) {
        out.after[a].direction = out.report.directions[index(a)];
    }
    return out;
}

} // namespace motion

#include "motion/planning.h"

#include "encoding/number_text.h"

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

// Step A from the formatted target text T. The positions are compared as numbers: their texts
// sort in numeric order only up to 9999.999 and only for equal signs.
AxisMove planToFormattedTarget(const AxisState& axis, Axis which, const std::string& targetText,
                               std::string_view typedTarget) {
    AxisMove m;
    const std::optional<double> target = NumberOf(targetText);
    if (!target) {
        m.error = planError(PlanError::Kind::TargetNotANumber,
                            "The " + axisName(which) + " target " + quoted(typedTarget) +
                                " is not a number.");
        return m;
    }
    const std::optional<double> shown = NumberOf(axis.positionText);
    if (!shown) {
        m.error =
            planError(PlanError::Kind::PositionNotANumber,
                      "The " + axisName(which) + " position display " + quoted(axis.positionText) +
                          " is not a number; zero the axis before moving it.");
        return m;
    }
    m.after = axis;
    if (*target == *shown) {
        return m;
    }
    const bool positive = *target > *shown;
    const double distance = positive ? *target - *shown : *shown - *target;
    std::string distanceText = Format(distance);
    const std::optional<double> travelled = NumberOf(distanceText);
    const double position =
        travelled ? (positive ? axis.positionMm + *travelled : axis.positionMm - *travelled)
                  : distance;
    if (!std::isfinite(distance) || !travelled || !std::isfinite(position)) {
        m.error = planError(PlanError::Kind::MoveTooLong, "The " + axisName(which) + " move from " +
                                                              axis.positionText + " to " +
                                                              targetText + " is too long to plan.");
        return m;
    }
    m.distanceText = std::move(distanceText);
    m.after.positionMm = position;
    m.after.positionText = Format(position);
    // Z counts downwards: its bit is 0 for a move up.
    m.after.direction = which == Axis::Z ? !positive : positive;
    m.moved = true;
    return m;
}

// floor(c(k+1)/n) - floor(ck/n): the k-th of n parts of c, the parts adding up to c exactly.
std::uint64_t partOf(std::uint64_t count, std::uint64_t k, std::uint64_t n) {
    __extension__ using Wide = unsigned __int128; // c(k+1) reaches 2^90
    const Wide c = count;
    return static_cast<std::uint64_t>(c * (k + 1) / n - c * k / n);
}

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return a / b + (a % b != 0 ? 1 : 0);
}

} // namespace

AxisMove PlanAxisMove(const AxisState& axis, Axis which, double targetMm) {
    const std::string target = Format(targetMm);
    return planToFormattedTarget(axis, which, target, target);
}

AxisMove PlanAxisMove(const AxisState& axis, Axis which, std::string_view targetText) {
    return planToFormattedTarget(axis, which, Format(targetText), targetText);
}

MoveReport BuildMoveReport(const MachineState& planned,
                           const std::array<std::string_view, 3>& distanceTexts,
                           const PlanSettings& settings, std::string_view speedText, bool rapid) {
    MoveReport r;
    const double pulsesPerMm = encoding::Val(settings.pulsesPerMmText);
    for (const Axis a : kAxes) {
        const std::string_view distanceText = distanceTexts[index(a)];
        const std::optional<double> distance = NumberOf(distanceText);
        if (!distance) {
            r.error = planError(PlanError::Kind::DistanceNotANumber,
                                "The " + axisName(a) + " distance " + quoted(distanceText) +
                                    " is not a number.");
            return r;
        }
        // A negative pulses-per-mm setting gives a negative count; only its sign is dropped.
        const double steps = std::floor(pulsesPerMm * *distance);
        if (!(std::fabs(steps) <= kMaxCountableSteps)) {
            r.error = planError(PlanError::Kind::TooManySteps,
                                "The " + axisName(a) + " move of " + std::string(distanceText) +
                                    " mm at " + settings.pulsesPerMmText +
                                    " pulses per mm needs more steps than can be counted.");
            return r;
        }
        r.steps[index(a)] = static_cast<std::uint64_t>(std::fabs(steps));
    }

    const std::optional<double> speed = NumberOf(speedText);
    if (!speed) {
        r.error = planError(PlanError::Kind::SpeedNotANumber,
                            "The speed " + quoted(speedText) + " is not a number.");
        return r;
    }
    const double wholeSpeed = std::floor(*speed);
    if (wholeSpeed < 1) {
        r.error = planError(PlanError::Kind::SpeedBelowOne,
                            "Speed must be at least 1 mm/min: " + quoted(speedText) + ".");
        return r;
    }
    const std::optional<double> pwDelay = NumberOf(settings.pwDelayText);
    if (!pwDelay) {
        r.error = planError(PlanError::Kind::PwDelayNotANumber,
                            "The PW delay " + quoted(settings.pwDelayText) + " is not a number.");
        return r;
    }
    const double period = std::floor(*pwDelay / wholeSpeed);
    if (period > encoding::kMaxStepPeriod) {
        r.error = planError(PlanError::Kind::StepPeriodTooLong,
                            "Step period too long: PW delay " + settings.pwDelayText + " at " +
                                encoding::FormatSignificant(wholeSpeed) + " mm/min gives " +
                                encoding::FormatSignificant(period) +
                                ", but a report holds at most 65535. Raise the speed or lower "
                                "the PW delay.");
        return r;
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
    out.after = state;
    // Every target is checked before any axis advances.
    for (const Axis a : kAxes) {
        if (const auto& target = request.targets[index(a)]) {
            AxisMove m = PlanAxisMove(state[a], a, *target);
            if (m.error) {
                out.error = std::move(m.error);
                out.axisMoves = {};
                return out;
            }
            out.axisMoves[index(a)] = std::move(m);
        }
    }
    std::array<std::string_view, 3> distances{"0000.000", "0000.000", "0000.000"};
    for (const Axis a : kAxes) {
        if (const auto& m = out.axisMoves[index(a)]) {
            out.after[a] = m->after;
            distances[index(a)] = m->distanceText;
        }
    }
    out.report = BuildMoveReport(out.after, distances, settings, request.speedText, request.rapid);
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

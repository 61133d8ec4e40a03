// Linear move planning: one straight move of up to three axes, from where the machine is shown
// to a target, becomes direction bits, step counts, a step period and the report(s) to send.
//
// The same planning serves GOTO, every program line of a run, the preview pass and the dry-run
// tool. Everything here is pure: it reads a MachineState and settings and returns new values;
// the caller stores them back and shows them. Units: positions and distances in mm, speeds in
// mm/min, counts in step pulses.
//
// Two ways in:
//   - PlanMove: one whole move (targets for some axes, speed text, rapid flag) in one call.
//   - PlanAxisMove per axis, then BuildMoveReport: the same steps one at a time, for callers
//     that show each step's echo as it happens.
#pragma once

#include "encoding/motion_report.h"
#include "gcode/arc.h"
#include "motion/step_position.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace motion {

enum class Axis : std::uint8_t { X = 0, Y = 1, Z = 2 };
inline constexpr std::array<Axis, 3> kAxes{Axis::X, Axis::Y, Axis::Z};
inline constexpr std::size_t index(Axis a) {
    return static_cast<std::size_t>(a);
}
inline constexpr char letter(Axis a) {
    return "XYZ"[index(a)];
}

// One axis as the machine is tracked. Shared with jogging and zeroing.
struct AxisState {
    // The position display (XpositionDisplay ...), always a "0000.000" text. Planning reads the
    // current position from this text, not from positionMm: the operator sees the text, and a
    // move must start from what is shown.
    std::string positionText = "0000.000";
    double positionMm = 0.0; // XPosition ...
    // XDirection ...: the bit as last sent (after inversion); an axis that does not move keeps
    // it, and the next report inverts it again when its Inverse box is checked.
    bool direction = false;
    // The step position of positionText as the move that wrote the text worked it out; the
    // next move starts from it (step_position.h). Whoever else writes the text need not touch
    // it: it only counts while the text still shows where it was worked out.
    StepMemo steps;
};

struct MachineState {
    std::array<AxisState, 3> axes;

    AxisState& operator[](Axis a) { return axes[index(a)]; }
    const AxisState& operator[](Axis a) const { return axes[index(a)]; }
};

// The settings planning reads, as the settings fields hold them.
struct PlanSettings {
    std::string pulsesPerMmText = "533.333"; // setpulses; read for its leading number, 0 if none
    std::string pwDelayText = "57150";       // pwm1; must be a number
    std::array<bool, 3> inverse{};           // InverseX, InverseY, InverseZ
    bool limitsDisabled = false;             // Dlimits
    // How far an arc's straight moves may stray from it (the operator's own, not in the file).
    double arcToleranceMm = gcode::DefaultArcToleranceMm;

    friend bool operator==(const PlanSettings&, const PlanSettings&) = default;
};

// The settings with their numbers read once, for a run that plans many lines with the same
// settings. A caller that reads the settings fields afresh for every move (GOTO) may just as
// well pass PlanSettings: PlanMove then prepares them for that one move.
struct PreparedPlanSettings {
    explicit PreparedPlanSettings(PlanSettings fields);

    PlanSettings fields;           // as typed: the refusal messages quote these texts
    PulsesPerMm pulses;            // Val(setpulses), as the exact decimal the text spells
    std::optional<double> pwDelay; // the number of pwm1; none: every report is refused

    // The speed a run planned last with its whole speed and step period: a program's speed
    // rarely changes from line to line, and this saves two divisions a line. It makes a
    // prepared value something one run uses at a time, never two threads at once.
    struct SpeedPeriod {
        std::int32_t speedThousandths;
        double wholeSpeed;
        double period;
    };
    mutable std::optional<SpeedPeriod> lastSpeed;
};

// Why a move cannot be planned, in the operator's words.
struct PlanError {
    enum class Kind {
        TargetNotANumber,
        PositionNotANumber,
        MoveTooLong,
        TooManySteps,
        TooManyReports,
        SpeedNotANumber,
        SpeedBelowOne,
        PwDelayNotANumber,
        StepPeriodTooLong,
    };
    Kind kind;
    std::string message;
};

// What planning one axis shows (step A of a move).
struct AxisEcho {
    std::string distanceText = "0000.000"; // XDistanceText and Text1..Text3; never negative
    double distanceMm = 0.0;               // the number of distanceText
    bool moved = false;
    bool direction = false; // the bit before inversion, as Text7/Text8/Text10 show it
};

struct AxisMove {
    std::optional<PlanError> error; // set: nothing else is valid and the state must not change
    // The axis after the move: new position, its display text, and the direction bit before
    // inversion. An axis that does not move keeps everything, its stored bit included.
    AxisState after;
    AxisEcho echo;
};

// Plans one axis from its shown position to a target. Target and shown position are compared
// as numbers; equal values are no move, the direction bit is then kept.
AxisMove PlanAxisMove(const AxisState& axis, Axis which, double targetMm);
// The same with the target as a text that must read as a number (a table cell after its letter,
// with or without the trailing blank). It is formatted on its digits, which is fast.
AxisMove PlanAxisMove(const AxisState& axis, Axis which, std::string_view targetText);

// The most reports one move may be split into. Beyond it a move would keep the board (and a
// dry run's output) busy for days; it is a mistyped number, and it is refused.
inline constexpr std::uint64_t MaxReportsPerMove = 65536;

// Steps B to E of a move: counts, period, inversion and flag byte, and the report(s).
//
// The count of each axis is the difference of its step positions (step_position.h) after and
// before the move, so the counts of any run of moves add up to where the displays end.
struct MoveReport {
    std::optional<PlanError> error;       // set: nothing below is valid and nothing may be sent
    std::array<std::uint64_t, 3> steps{}; // the whole count per axis over all parts
    std::uint32_t stepPeriod = 0;
    // The bits as sent by the last report, after inversion: the caller stores them as the axes'
    // direction bits.
    std::array<bool, 3> directions{};
    bool rapid = false;
    bool limitsDisabled = false;
    // 1, or the number of reports the move is sent as: the parts of a count wider than its
    // field, or the straight moves of an arc.
    std::uint64_t reportCount = 0;
    // The move follows a path of several straight moves (an arc), not one straight line.
    bool followsPath = false;

    // The reports of a move of more than one, in order. Every part is a move from one shown
    // position to another like any other: its count on each axis is the difference of the step
    // positions at its ends, so a move cut short after a part leaves the displays where that
    // part took the machine. A part of a count wider than its field ends where the axis has
    // travelled floor(c(k+1)/n) of the count's c steps (later by up to a thousandth's steps
    // above 1000 pulses per mm, with a report more where that would overfill a field).
    struct Part {
        // The shown positions at the part's end (thousandths) of the axes the move moves; none
        // where the part ends inside a thousandth (more than 65 million pulses per mm).
        std::array<std::optional<std::int64_t>, 3> shownAfter{};
        std::array<std::int64_t, 3> stepsAfter{}; // S at the part's end
        std::array<bool, 3> directions{};         // the bits it is sent with
    };
    std::vector<Part> parts;                   // empty for a move of one report
    std::array<std::int64_t, 3> stepsBefore{}; // S at the start, when there are parts

    // Report `part` (0 .. reportCount - 1), to be sent and acknowledged in order. No report
    // after an error or for a part out of range.
    std::optional<encoding::MotionReport> Report(std::uint64_t part) const;
    // The steps of one part on one axis.
    std::uint64_t PartSteps(Axis a, std::uint64_t part) const;
    // The shown positions (thousandths) of the moving axes once `part` is done, for every part
    // but the last; none where the part ends inside a thousandth.
    std::optional<std::array<std::optional<std::int64_t>, 3>>
    ShownAfterPart(std::uint64_t part) const;
    // A straight move too long for one report (an arc's many reports are not a split).
    bool Split() const { return !error && !followsPath && reportCount > 1; }
    // The step count echo Text4..Text6: the whole count in decimal.
    std::string StepsText(Axis a) const;
    // The Text11 echo: the 24-character binary text of the X count of the first report.
    std::string XBinaryText() const;
    // For a split move, what to tell the operator; none for a move sent as one report.
    std::optional<std::string> SplitNotice() const;
};

// Builds the report of a move from the state `before` to the state `planned` (its axes
// planned with PlanAxisMove). `distanceTexts` are the axes' distance texts ("0000.000" for an
// axis that was not planned), quoted by refusals. `speedText` must be a number of at least
// 1 mm/min. The step period floor(PW delay / floor(speed)) must fit 16 bits; a negative one is
// sent as 0.
MoveReport BuildMoveReport(const MachineState& before, const MachineState& planned,
                           const std::array<std::string_view, 3>& distanceTexts,
                           const PlanSettings& settings, std::string_view speedText, bool rapid);

// Part k (0 .. n - 1) of a count c split into n reports: floor(c(k+1)/n) - floor(ck/n). The
// parts add up to c exactly and differ from each other by at most one step; there is no part
// beyond the last. Exact for every count and n, without wider-than-64-bit integers.
std::uint64_t SplitPart(std::uint64_t count, std::uint64_t k, std::uint64_t n);

// One whole move, as GOTO, a program line and the dry run ask for it.
struct MoveRequest {
    // Per axis the target as a number text (a table cell after its letter; for GOTO the
    // formatted entry); no value: the axis is not planned (an empty cell) and does not move.
    std::array<std::optional<std::string_view>, 3> targets;
    std::string_view speedText; // mm/min
    bool rapid = false;

    // A loaded program holds most cells as whole thousandths. A run hands these over as they
    // are, instead of writing them out as text for planning to read back. A target given here
    // is planned to that exact number and need not be in `targets`; where a message quotes it,
    // it shows as its "0000.000" text, which is the text its cell holds. A speed given here is
    // the number of `speedText`; a refusal quotes `speedText`, or this number's "0000.000"
    // text when `speedText` is empty.
    std::array<std::optional<std::int32_t>, 3> targetThousandths{};
    std::optional<std::int32_t> speedThousandths{};

    // Shown positions (thousandths, all three axes) the move passes through, in order, before
    // its targets: the vertices of an arc. The move is then a path of straight moves, one
    // report each (or more where one is too long), from the shown position through them.
    std::span<const std::array<std::int64_t, 3>> via{};

    bool Plans(Axis a) const { return targets[index(a)] || targetThousandths[index(a)]; }
};

struct PlannedMove {
    // A target or shown position that is not a number: `after` is the state unchanged.
    // A refused report (speed, PW delay, period, counts): `after` already holds the advanced
    // positions, as the displays show them, with the direction bits before inversion.
    std::optional<PlanError> error;
    MachineState after;                            // store this back, also when there is an error
    std::array<std::optional<AxisEcho>, 3> echoes; // per planned axis: the step A echoes
    MoveReport report;
};

PlannedMove PlanMove(const MachineState& state, const PlanSettings& settings,
                     const MoveRequest& request);
PlannedMove PlanMove(const MachineState& state, const PreparedPlanSettings& settings,
                     const MoveRequest& request);
// The same into an existing result, whose strings keep their room from move to move. `out`
// must not be `state` or hold it.
void PlanMove(const MachineState& state, const PreparedPlanSettings& settings,
              const MoveRequest& request, PlannedMove& out);

} // namespace motion

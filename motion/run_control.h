// What a run does besides sending rows: the stops and dwells a file asks for, and the approach
// that takes the machine back to where a paused or interrupted run goes on, above everything
// the program has cut so far. All of it without a window, so the dry run prints the same
// approach the window sends.
#pragma once

#include "gcode/program.h"
#include "motion/planning.h"
#include "motion/program_run.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace motion {

// The notes a run meets before it sends `row`, in file order.
std::span<const gcode::RowNote> NotesBefore(const gcode::Program& program, std::size_t row);

// What a note asks of a run: nothing (an optional stop while optional stops are off), a pause
// until Run is pressed again, or a wait of the note's seconds.
enum class NoteAction { None, Pause, Dwell };
NoteAction ActionOf(const gcode::RowNote& note, bool optionalStops);

// Why a stop in the file paused the run, and what the operator does next.
std::string StopNoteText(const gcode::RowNote& note);

// The dwells of a program added up, in seconds: board time the rows' reports do not show.
double DwellSeconds(const gcode::Program& program);

// The shown positions as thousandths; none when a display does not read as a position.
std::optional<std::array<std::int64_t, 3>> ShownThousandths(const MachineState& machine);

// The direction bits of every axis as last sent.
std::array<bool, 3> DirectionBits(const MachineState& machine);

// Where a program's row starts when the program runs from `start` (planned, nothing sent).
struct RowStart {
    MachineState machine;      // as the rows before left it
    std::int64_t highestZ = 0; // thousandths: the highest Z shown before the row, the start's too
    std::optional<PlanError> error; // a row before could not be planned; nothing else is valid
    std::size_t errorRow = 0;
};
RowStart PlanToRow(const gcode::Program& program, std::size_t row, const MachineState& start,
                   const PreparedPlanSettings& settings, const RunSpeeds& speeds);

// One move of an approach: to the thousandths of the axes it moves.
struct ApproachLeg {
    std::array<std::optional<std::int64_t>, 3> target;
    bool rapid = true;
    friend bool operator==(const ApproachLeg&, const ApproachLeg&) = default;
};

// From `from` to `to`, never crossing the work below the safe height: Z up to `clearanceZ`
// above `highestZ` (or kept where it stands when that is higher); X and Y across at the travel
// speed; Z down at the row's feed. Legs with nothing to move are left out; none when `from`
// is `to`.
std::vector<ApproachLeg> ApproachLegs(const std::array<std::int64_t, 3>& from,
                                      const std::array<std::int64_t, 3>& to, std::int64_t highestZ,
                                      std::int64_t clearanceZ);

// The approach for the operator to confirm, a leg a line ("Z up to 0005.000 at the travel
// speed"), from where Z stands; `feedText` names the speed of the legs at the feed.
std::string ApproachText(std::int64_t fromZ, std::span<const ApproachLeg> legs,
                         std::string_view feedText);

// The row whose speed an approach into `row` feeds down at: `row` itself when it is a feed
// move, else the last feed move before it (a plunge into the work at a rapid's speed would
// break the tool); none when no feed move comes before, and the Cutting speed is taken.
std::optional<std::size_t> ApproachFeedRow(const gcode::Program& program, std::size_t row);
// The speed text the legs at the feed go at, before the override.
std::string ApproachFeedSpeed(const gcode::Program& program, std::size_t row,
                              const RunSpeeds& speeds);
// The same with the override, for the operator ("0100.000 mm/min").
std::string ApproachFeedText(const gcode::Program& program, std::size_t row,
                             const RunSpeeds& speeds);

// The speed of a feed move under the feed override: the row's speed times `percent` / 100, to
// the thousandth below. None when the speed does not read as a number of thousandths.
std::optional<std::int32_t> OverriddenSpeed(std::string_view speedText, int percent);

// The feed override's range and its step on the keyboard.
inline constexpr int MinFeedPercent = 10;
inline constexpr int MaxFeedPercent = 200;
inline constexpr int FeedPercentStep = 10;

} // namespace motion

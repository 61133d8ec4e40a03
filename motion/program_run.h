// One row of a program run, without any window: the row's cells become targets and a speed
// (the speed table), the move is planned, and the result says what to send, show and draw.
//
// The live run, the simulated run, the preview pass and the dry-run tool all go through
// PlanProgramRow, so the tool shows exactly what the window would send.
#pragma once

#include "gcode/plot_geometry.h"
#include "gcode/program.h"
#include "motion/planning.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace motion {

// The speed boxes as a run reads them at each line.
struct RunSpeeds {
    bool overrideGcode = false;  // Check1
    std::string travelSpeedText; // Travspeed, as typed
    std::string cutSpeedText;    // cutspeed, as typed
    // The feed override: every feed move at this share of its speed; rapids keep theirs.
    int feedPercent = 100;

    // The override speeds are Format(text); worked out once when the boxes are read.
    void Prepare();
    std::string travelSpeedFormatted;
    std::string cutSpeedFormatted;
};

// True when a run reads the same speeds from both: the boxes as typed and Override.
bool SameSpeeds(const RunSpeeds& a, const RunSpeeds& b);

// The speed of a row by the speed table: with Override, the formatted travel or cut speed by
// the motion code; without, the feed cell after its letter. The text may live in buf.
std::string_view RowSpeedText(const gcode::Program& program, std::size_t row,
                              const RunSpeeds& speeds, char (&buf)[16], std::string& longText);

struct ProgramRowMove {
    bool rapid = false;    // column 0 is "G00 "
    bool approach = false; // a move of an approach before the row, not a row of the program
    PlannedMove planned;   // the move, its report(s), or why it cannot be planned
    // The vertices an arc row passes through before its end (thousandths), kept from row to
    // row for their room.
    std::vector<std::array<std::int64_t, 3>> via;
};

// The vertices of an arc row between its start and its end, as shown positions: the arc's
// points rounded to thousandths on the axes the row has cells for, the shown position on the
// others (an axis the arc does not move stays where it is shown).
void ArcVertices(const gcode::Arc& arc, const gcode::ProgramRow& row, const MachineState& state,
                 double toleranceMm, std::vector<std::array<std::int64_t, 3>>& via);

// Plans one row from the machine state the displays show. On success store planned.after
// back; on an error it still holds the positions as far as they advanced, as the displays
// must show them when the run stops.
ProgramRowMove PlanProgramRow(const gcode::Program& program, std::size_t row,
                              const MachineState& state, const PlanSettings& settings,
                              const RunSpeeds& speeds);
// The same with the settings read once for the whole run, into a result that is reused from
// row to row; `out` must not hold `state`.
void PlanProgramRow(const gcode::Program& program, std::size_t row, const MachineState& state,
                    const PreparedPlanSettings& settings, const RunSpeeds& speeds,
                    ProgramRowMove& out);

// What the plot needs of a planned row: its X and Y distances, the bits as sent, the motion
// code and the Z display after the move. `inverse` are the Inverse boxes the row was planned
// with; `preview` is the preview pass's way of drawing.
gcode::PlotRowInput RowPlotInput(const ProgramRowMove& move, const std::array<bool, 3>& inverse,
                                 bool preview);

// Every run and every GOTO starts with the three direction bits cleared.
void ClearDirections(MachineState& state);

// Board time of one report: its longest count times the step period, at 508,000 period units
// per second.
double ReportSeconds(const encoding::MotionFields& fields);
// The same summed over every report of a planned move.
double MoveSeconds(const MoveReport& report);
// The longest counts of a planned move's reports added up (0 for a move that is refused): its
// board time is this many step periods.
std::uint64_t MoveLongestSteps(const MoveReport& report);

} // namespace motion

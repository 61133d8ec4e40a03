// A preview's rows planned away from the window, kept as the plot draws them: what the check
// finds, and each straight move's travel (PlotTravel), in the pieces the preview draws at a
// time. The window only draws what these hold and takes over where their stepper ended.
#pragma once

#include "gcode/program.h"
#include "motion/planning.h"
#include "motion/program_check.h"
#include "motion/program_run.h"
#include "motion/run_stepper.h"
#include "motion/slice_planner.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace motion {

// Rows the preview plans between two paints of the window: it draws them with one call.
inline constexpr std::size_t PreviewRowsPerPiece = 32768;

// Rows of a preview planned on another thread, kept whole until the window draws them.
struct PreviewPart {
    explicit PreviewPart(const PreparedPlanSettings& settings) { check.Start(settings); }
    // Each row as it is planned, counted in the whole program.
    void Row(std::size_t row, const RunStepper& run);

    ProgramCheck check;
    std::vector<PlotTravel> pieces{1}; // the piece in hand last
};

// A load's preview, planned while the file is still read: the reader's rows, a slice at a time
// on a thread of their own, from the machine a load leaves (every display at zero). Whole
// pieces are handed out as they are done, for the window to draw while the rest is planned.
class EarlyPreview {
public:
    EarlyPreview(const PlanSettings& settings, const RunSpeeds& speeds);
    // A slice of the reader's rows (gcode::ProgramLoad::SliceRows), from the reading thread.
    void Add(gcode::Program slice);
    // True when it plans `program`, every row of it given, from `machine` with these settings
    // and speeds: what a preview starting now would plan.
    bool Plans(const gcode::Program& program, const PlanSettings& settings, const RunSpeeds& speeds,
               const MachineState& machine) const;
    // Waits for the next whole piece of travel and moves it into `piece`; false once the
    // planner has ended and every whole piece is taken.
    bool NextPiece(PlotTravel& piece);

    // The planner's own until it ends: what the check finds, and the piece of travel in hand
    // (then the last, partial one).
    ProgramCheck check;
    PlotTravel piece;

private:
    void row(std::size_t row, const RunStepper& run);
    void ended();

    const PlanSettings fields_;
    const RunSpeeds speeds_;
    std::size_t given_ = 0; // rows handed to the planner, by the reading thread
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<PlotTravel> pieces_; // whole pieces not yet taken
    bool ended_ = false;

public:
    SlicePlanner planner; // last: it stops before the rest goes
};

} // namespace motion

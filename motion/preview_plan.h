// A preview's rows planned away from the window: what the check finds, and the toolpath the
// view draws. The window takes over where their stepper ended.
#pragma once

#include "gcode/program.h"
#include "gcode/toolpath.h"
#include "motion/planning.h"
#include "motion/program_check.h"
#include "motion/program_run.h"
#include "motion/run_stepper.h"
#include "motion/slice_planner.h"

#include <cstddef>
#include <future>
#include <memory>
#include <optional>

namespace motion {

// Rows the preview plans between two paints of the window: it draws them with one call.
inline constexpr std::size_t PreviewRowsPerPiece = 32768;

// Rows of a preview planned on another thread: what the check finds.
struct PreviewPart {
    explicit PreviewPart(const PreparedPlanSettings& settings) { check.Start(settings); }
    // Each row as it is planned, counted in the whole program.
    void Row(std::size_t row, const RunStepper& run);

    ProgramCheck check;
};

// A load's preview, planned while the file is still read: the rows read, a slice at a time
// on a thread of their own, from the machine a load leaves (every display at zero).
class EarlyPreview {
public:
    EarlyPreview(const PlanSettings& settings, const RunSpeeds& speeds);
    // A slice of the rows read so far (gcode::ProgramLoad::SliceRows, either dialect), from
    // the reading thread. A slice of the other dialect starts the planning again.
    void Add(gcode::Program slice);
    // True when it plans `program`, every row of it given, from `machine` with these settings
    // and speeds: what a preview starting now would plan.
    bool Plans(const gcode::Program& program, const PlanSettings& settings, const RunSpeeds& speeds,
               const MachineState& machine) const;
    // The program's toolpath from where a load leaves the machine, built on a thread of its own
    // once the whole program is read (the reader's processor is free by then), whichever way
    // the preview is then planned.
    void BuildPath(std::shared_ptr<const gcode::Program> program, double arcToleranceMm);
    // That path, once built, when it is the path of `program`.
    std::optional<gcode::Toolpath> TakePath(const gcode::Program& program);

    // The planner's own until it ends: what the check finds.
    ProgramCheck check;
    SlicePlanner& Planner() { return *planner_; }

private:
    void row(std::size_t row, const RunStepper& run);
    std::unique_ptr<SlicePlanner> startPlanner();

    const PlanSettings fields_;
    const RunSpeeds speeds_;
    std::size_t given_ = 0; // rows handed to the planner, by the reading thread
    gcode::Dialect dialect_ = gcode::Dialect::Design; // of the rows given
    std::shared_ptr<const gcode::Program> pathOf_;
    std::future<gcode::Toolpath> path_;
    std::unique_ptr<SlicePlanner> planner_; // last: it stops before the rest goes
};

} // namespace motion

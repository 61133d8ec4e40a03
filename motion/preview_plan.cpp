#include "motion/preview_plan.h"

#include "motion/plan_ahead.h"

#include <utility>

namespace motion {
namespace {

ProgramCheck startedCheck(const PlanSettings& settings) {
    ProgramCheck check;
    check.Start(PreparedPlanSettings(settings));
    return check;
}

} // namespace

void PreviewPart::Row(std::size_t row, const RunStepper& run) {
    check.Row(row, run.Current());
}

EarlyPreview::EarlyPreview(const PlanSettings& settings, const RunSpeeds& speeds)
    : check(startedCheck(settings)), fields_(settings), speeds_(speeds), planner_(startPlanner()) {}

std::unique_ptr<SlicePlanner> EarlyPreview::startPlanner() {
    return std::make_unique<SlicePlanner>(
        RunMode::Preview, MachineState(), PreparedPlanSettings(fields_), speeds_,
        [this](std::size_t r, const RunStepper& run) { row(r, run); });
}

void EarlyPreview::Add(gcode::Program slice) {
    if (given_ > 0 && slice.dialect != dialect_) {
        // The file loads the other way after all: its rows start again from the first.
        planner_.reset(); // its thread has stopped before the check is started again
        check = startedCheck(fields_);
        planner_ = startPlanner();
        given_ = 0;
    }
    dialect_ = slice.dialect;
    given_ += slice.LineCount();
    planner_->Add(std::move(slice));
}

bool EarlyPreview::Plans(const gcode::Program& program, const PlanSettings& settings,
                         const RunSpeeds& speeds, const MachineState& machine) const {
    return program.LineCount() > 0 && given_ == program.LineCount() &&
           program.dialect == dialect_ && fields_ == settings && SameSpeeds(speeds_, speeds) &&
           SamePlanningState(MachineState(), machine);
}

void EarlyPreview::row(std::size_t row, const RunStepper& run) {
    check.Row(row, run.Current());
}

void EarlyPreview::BuildPath(std::shared_ptr<const gcode::Program> program, double arcToleranceMm) {
    pathOf_ = std::move(program);
    path_ = std::async(std::launch::async, [program = pathOf_, arcToleranceMm] {
        return gcode::BuildToolpath(*program, {0, 0, 0}, arcToleranceMm);
    });
}

std::optional<gcode::Toolpath> EarlyPreview::TakePath(const gcode::Program& program) {
    if (!path_.valid() || pathOf_.get() != &program) {
        return std::nullopt;
    }
    return path_.get();
}

} // namespace motion

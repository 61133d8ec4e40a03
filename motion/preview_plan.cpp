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
    : check(startedCheck(settings)), fields_(settings), speeds_(speeds),
      planner(
          RunMode::Preview, MachineState(), PreparedPlanSettings(settings), speeds,
          [this](std::size_t r, const RunStepper& run) { row(r, run); }, [] {}) {}

void EarlyPreview::Add(gcode::Program slice) {
    given_ += slice.LineCount();
    planner.Add(std::move(slice));
}

bool EarlyPreview::Plans(const gcode::Program& program, const PlanSettings& settings,
                         const RunSpeeds& speeds, const MachineState& machine) const {
    return program.LineCount() > 0 && given_ == program.LineCount() &&
           program.dialect == gcode::Dialect::Reader && fields_ == settings &&
           SameSpeeds(speeds_, speeds) && SamePlanningState(MachineState(), machine);
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

#include "motion/preview_plan.h"

#include "motion/plan_ahead.h"

#include <utility>

namespace motion {
namespace {

// A row into a preview's check and the piece in hand; true when it ends a piece.
bool previewRow(std::size_t row, const RunStepper& run, ProgramCheck& check, PlotTravel& piece) {
    check.Row(row, run.Current());
    if (!run.Current().planned.error) {
        run.AppendTravel(piece);
    }
    return (row + 1) % PreviewRowsPerPiece == 0;
}

ProgramCheck startedCheck(const PlanSettings& settings) {
    ProgramCheck check;
    check.Start(PreparedPlanSettings(settings));
    return check;
}

} // namespace

void PreviewPart::Row(std::size_t row, const RunStepper& run) {
    if (previewRow(row, run, check, pieces.back())) {
        pieces.emplace_back();
    }
}

EarlyPreview::EarlyPreview(const PlanSettings& settings, const RunSpeeds& speeds)
    : check(startedCheck(settings)), fields_(settings), speeds_(speeds),
      planner(
          RunMode::Preview, MachineState(), PreparedPlanSettings(settings), speeds,
          [this](std::size_t r, const RunStepper& run) { row(r, run); }, [this] { ended(); }) {}

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
    if (previewRow(row, run, check, piece)) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            pieces_.push_back(std::move(piece));
        }
        ready_.notify_one();
        piece = {};
    }
}

void EarlyPreview::ended() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
    }
    ready_.notify_one();
}

bool EarlyPreview::NextPiece(PlotTravel& next) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return !pieces_.empty() || ended_; });
    if (pieces_.empty()) {
        return false;
    }
    next = std::move(pieces_.front());
    pieces_.pop_front();
    return true;
}

} // namespace motion

#include "motion/plan_ahead.h"

#include <utility>

namespace motion {

bool SamePlanningState(const MachineState& a, const MachineState& b) {
    for (const Axis axis : kAxes) {
        const AxisState& x = a[axis];
        const AxisState& y = b[axis];
        if (x.positionText != y.positionText || x.positionMm != y.positionMm ||
            x.direction != y.direction) {
            return false;
        }
    }
    return true;
}

std::size_t PlanAhead::SplitRow(std::size_t rows, std::size_t leadRows, std::size_t worthFrom) {
    if (rows < worthFrom || rows <= leadRows) {
        return rows;
    }
    return (rows + leadRows) / 2;
}

PlanAhead::PlanAhead(const gcode::Program& program, std::size_t from, RunMode mode,
                     const MachineState& start, const PreparedPlanSettings& settings,
                     const RunSpeeds& speeds, RowSink onRow, std::size_t leadRows)
    : from_(from), settings_(settings), speeds_(speeds), onRow_(std::move(onRow)), machine_(start) {
    thread_ = std::thread([this, &program, mode, leadRows] { plan(program, mode, leadRows); });
}

PlanAhead::~PlanAhead() {
    cancel_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) {
        thread_.join();
    }
}

void PlanAhead::plan(const gcode::Program& program, RunMode mode, std::size_t leadRows) {
    // Nothing may escape the thread: a failure only means the guess is not used, and the
    // caller, planning the rows itself, meets it again where it can report it.
    try {
        run_.Begin(&program, mode, machine_, pen_, false);
        run_.StartAt(from_ > leadRows ? from_ - leadRows : 0);
        while (run_.NextRow() < from_) {
            if (run_.PlanNext(settings_, speeds_).planned.error) {
                return; // the guessed start cannot even plan these rows
            }
        }
        assumed_ = machine_;
        guessed_ = true;
        while (run_.HasNext() && !cancel_.load(std::memory_order_relaxed)) {
            const ProgramRowMove& move = run_.PlanNext(settings_, speeds_);
            onRow_(run_);
            if (move.planned.error) {
                return;
            }
        }
    } catch (...) {
        guessed_ = false;
    }
}

bool PlanAhead::Finish(const MachineState& at, const PlanSettings& settings,
                       const RunSpeeds& speeds) {
    if (thread_.joinable()) {
        thread_.join();
    }
    return guessed_ && !cancel_.load(std::memory_order_relaxed) && settings_.fields == settings &&
           SameSpeeds(speeds_, speeds) && SamePlanningState(assumed_, at);
}

} // namespace motion

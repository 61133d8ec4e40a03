#include "motion/run_stepper.h"

#include "encoding/number_text.h"

#include <cstdio>

namespace motion {

RunMode ChooseRunMode(bool simulateChecked, bool previewDone) {
    if (simulateChecked) {
        return RunMode::Simulate;
    }
    return previewDone ? RunMode::Live : RunMode::Preview;
}

void RunStepper::Begin(const gcode::Program* program, RunMode mode, MachineState& machine,
                       gcode::PlotPen& pen, bool scaleToFit) {
    program_ = program;
    mode_ = mode;
    machine_ = &machine;
    pen_ = &pen;
    rows_ = program != nullptr ? program->LineCount() : 0;
    next_ = 0;
    anyPlanned_ = false;
    directionEchoes_ = {};
    for (const Axis a : kAxes) {
        startTexts_[index(a)] = machine[a].positionText;
    }
    const gcode::Extent none;
    const std::string& zShown = machine[Axis::Z].positionText;
    gcode::ResetPlot(pen, program != nullptr ? program->XExtent : none,
                     program != nullptr ? program->YExtent : none, scaleToFit,
                     encoding::NumberOf(zShown).value_or(0.0));
    ClearDirections(machine);
}

const ProgramRowMove& RunStepper::PlanNext(const PreparedPlanSettings& settings,
                                           const RunSpeeds& speeds) {
    // Never over the last good row: after a refusal the run ends, so taking turns is enough.
    const std::size_t slot =
        anyPlanned_ && !slots_[current_].planned.error ? 1 - current_ : current_;
    ProgramRowMove& move = slots_[slot];
    current_ = slot;
    PlanProgramRow(*program_, next_, *machine_, settings, speeds, move);
    ++next_;
    inverse_ = settings.fields.inverse;
    for (const Axis a : kAxes) {
        if (const auto& echo = move.planned.echoes[index(a)]) {
            directionEchoes_[index(a)] = echo->direction;
        }
    }
    if (!move.planned.error) {
        *machine_ = move.planned.after;
        anyPlanned_ = true;
    }
    return move;
}

const ProgramRowMove* RunStepper::LastPlanned() const {
    if (!anyPlanned_) {
        return nullptr;
    }
    const ProgramRowMove& current = slots_[current_];
    return current.planned.error ? &slots_[1 - current_] : &current;
}

std::optional<gcode::PlotSegment> RunStepper::DrawRow() {
    return gcode::PlotRow(*pen_,
                          RowPlotInput(slots_[current_], inverse_, mode_ == RunMode::Preview));
}

void RunStepper::End() {
    if (mode_ == RunMode::Live) {
        return;
    }
    for (const Axis a : kAxes) {
        AxisState& axis = (*machine_)[a];
        const std::string& start = startTexts_[index(a)];
        axis.positionText = encoding::Format(start);
        axis.positionMm = encoding::NumberOf(start).value_or(0.0);
    }
}

std::vector<double> RemainingSeconds(const gcode::Program& program, const MachineState& start,
                                     const PreparedPlanSettings& settings,
                                     const RunSpeeds& speeds) {
    MachineState machine = start;
    gcode::PlotPen pen;
    RunStepper run;
    run.Begin(&program, RunMode::Live, machine, pen, false);
    std::vector<double> remaining(program.LineCount() + 1, 0.0);
    while (run.HasNext()) {
        const ProgramRowMove& move = run.PlanNext(settings, speeds);
        if (move.planned.error) {
            break;
        }
        remaining[run.Row()] = MoveSeconds(move.planned.report);
    }
    for (std::size_t r = program.LineCount(); r-- > 0;) {
        remaining[r] += remaining[r + 1];
    }
    return remaining;
}

std::string DurationText(double seconds) {
    char buf[64];
    const auto whole = static_cast<long long>(seconds);
    const long long hours = whole / 3600;
    const long long minutes = (whole % 3600) / 60;
    const double rest = seconds - static_cast<double>(hours * 3600 + minutes * 60);
    if (hours > 0) {
        std::snprintf(buf, sizeof buf, "%lld h %02lld min %04.1f s", hours, minutes, rest);
    } else if (minutes > 0) {
        std::snprintf(buf, sizeof buf, "%lld min %04.1f s", minutes, rest);
    } else {
        std::snprintf(buf, sizeof buf, "%.1f s", rest);
    }
    return buf;
}

} // namespace motion

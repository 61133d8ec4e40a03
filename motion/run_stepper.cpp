#include "motion/run_stepper.h"

#include "encoding/number_text.h"
#include "encoding/thousandths.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

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
    legs_.clear();
    nextLeg_ = 0;
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

void RunStepper::Resume(const gcode::Program* program, RunMode mode, MachineState& machine,
                        gcode::PlotPen& pen, std::size_t row) {
    program_ = program;
    mode_ = mode;
    machine_ = &machine;
    pen_ = &pen;
    rows_ = program != nullptr ? program->LineCount() : 0;
    next_ = std::min(row, rows_);
    anyPlanned_ = false;
    directionEchoes_ = {};
    legs_.clear();
    nextLeg_ = 0;
    for (const Axis a : kAxes) {
        startTexts_[index(a)] = machine[a].positionText;
    }
}

void RunStepper::Continue(const gcode::Program* slice) {
    program_ = slice;
    rows_ = slice != nullptr ? slice->LineCount() : 0;
    next_ = 0;
}

const ProgramRowMove& RunStepper::PlanNext(const PreparedPlanSettings& settings,
                                           const RunSpeeds& speeds) {
    // Never over the last good row: after a refusal the run ends, so taking turns is enough.
    const std::size_t slot =
        anyPlanned_ && !slots_[current_].planned.error ? 1 - current_ : current_;
    ProgramRowMove& move = slots_[slot];
    current_ = slot;
    move.approach = Approaching();
    if (move.approach) {
        planLeg(settings, speeds, move);
    } else if (program_->Rows()[next_].IsArc()) {
        for (const Axis a : kAxes) {
            std::int64_t& t = pathStart_[index(a)];
            if (!encoding::ThousandthsOfShownPosition((*machine_)[a].positionText, t)) {
                t = 0; // planning refuses such a row; nothing of it is drawn
            }
        }
    }
    if (!move.approach) {
        PlanProgramRow(*program_, next_, *machine_, settings, speeds, move);
        ++next_;
    }
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

void RunStepper::Approach(std::vector<ApproachLeg> legs, const std::array<bool, 3>& bits) {
    legs_ = std::move(legs);
    nextLeg_ = 0;
    bitsAfterLegs_ = bits;
    if (legs_.empty() && machine_ != nullptr) {
        for (const Axis a : kAxes) {
            (*machine_)[a].direction = bits[index(a)];
        }
    }
}

void RunStepper::planLeg(const PreparedPlanSettings& settings, const RunSpeeds& speeds,
                         ProgramRowMove& move) {
    const ApproachLeg& leg = legs_[nextLeg_++];
    MoveRequest request;
    std::array<std::string, 3> targets;
    for (const Axis a : kAxes) {
        if (const auto& t = leg.target[index(a)]) {
            targets[index(a)] = encoding::FormatThousandths(*t);
            request.targets[index(a)] = targets[index(a)];
        }
    }
    const std::string travel = encoding::Format(speeds.travelSpeedText);
    std::string feed;
    if (!leg.rapid && program_ != nullptr) {
        feed = ApproachFeedSpeed(*program_, next_, speeds);
        if (speeds.feedPercent != 100) {
            request.speedThousandths = OverriddenSpeed(feed, speeds.feedPercent);
        }
    }
    request.speedText = leg.rapid ? std::string_view(travel) : std::string_view(feed);
    request.rapid = leg.rapid;
    move.rapid = leg.rapid;
    move.via.clear();
    PlanMove(*machine_, settings, request, move.planned);
    if (!Approaching() && !move.planned.error) {
        for (const Axis a : kAxes) {
            move.planned.after[a].direction = bitsAfterLegs_[index(a)];
        }
    }
}

const ProgramRowMove* RunStepper::LastPlanned() const {
    if (!anyPlanned_) {
        return nullptr;
    }
    const ProgramRowMove& current = slots_[current_];
    return current.planned.error ? &slots_[1 - current_] : &current;
}

template <class Each> void RunStepper::eachPlotInput(Each&& each) const {
    const ProgramRowMove& move = slots_[current_];
    const MoveReport& report = move.planned.report;
    const bool preview = mode_ == RunMode::Preview;
    if (!report.followsPath || report.parts.empty()) {
        each(RowPlotInput(move, inverse_, preview));
        return;
    }
    // An arc: each straight move from the shown position before it to the one after, drawn
    // the way it goes, whatever the bits say about axes that did not step in it.
    std::array<std::int64_t, 3> at = pathStart_;
    for (std::size_t k = 0; k < report.parts.size(); ++k) {
        std::array<std::int64_t, 3> next = at;
        for (std::size_t i = 0; i < 3; ++i) {
            if (const auto& shown = report.parts[k].shownAfter[i]) {
                next[i] = *shown;
            }
        }
        gcode::PlotRowInput input;
        input.xDistanceMm = static_cast<double>(std::llabs(next[0] - at[0])) / 1000.0;
        input.yDistanceMm = static_cast<double>(std::llabs(next[1] - at[1])) / 1000.0;
        input.xDirection = next[0] > at[0] ? 1 : 0;
        input.yDirection = next[1] > at[1] ? 1 : 0;
        input.rapid = move.rapid;
        input.zShownMm = static_cast<double>(next[2]) / 1000.0;
        input.preview = preview;
        each(input);
        at = next;
    }
}

void RunStepper::DrawRow(std::vector<gcode::PlotSegment>& out) {
    eachPlotInput([&](const gcode::PlotRowInput& input) {
        if (const auto segment = gcode::PlotRow(*pen_, input)) {
            out.push_back(*segment);
        }
    });
}

void RunStepper::Adopt(const RunStepper& ahead, std::size_t firstRow) {
    const ProgramRowMove& last = ahead.slots_[ahead.current_];
    if (firstRow + ahead.next_ == next_ + 1 && last.planned.error) {
        // Its only row was refused: the last good row is this stepper's own, not one it
        // planned only to find where to start.
        current_ = anyPlanned_ && !slots_[current_].planned.error ? 1 - current_ : current_;
        slots_[current_] = last;
    } else {
        slots_[0] = ahead.slots_[0];
        slots_[1] = ahead.slots_[1];
        current_ = ahead.current_;
        anyPlanned_ = true;
    }
    next_ = firstRow + ahead.next_;
    inverse_ = ahead.inverse_;
    pathStart_ = ahead.pathStart_;
    for (std::size_t i = 0; i < directionEchoes_.size(); ++i) {
        if (ahead.directionEchoes_[i]) {
            directionEchoes_[i] = ahead.directionEchoes_[i];
        }
    }
    *machine_ = *ahead.machine_;
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

RemainingTime RemainingSeconds(const gcode::Program& program, const MachineState& start,
                               const PreparedPlanSettings& settings, RunSpeeds speeds) {
    speeds.feedPercent = 100;
    MachineState machine = start;
    gcode::PlotPen pen;
    RunStepper run;
    run.Begin(&program, RunMode::Live, machine, pen, false);
    RemainingTime left;
    left.feed.assign(program.LineCount() + 1, 0.0);
    left.fixed.assign(program.LineCount() + 1, 0.0);
    std::size_t planned = 0;
    while (run.HasNext()) {
        const ProgramRowMove& move = run.PlanNext(settings, speeds);
        if (move.planned.error) {
            break;
        }
        (move.rapid ? left.fixed : left.feed)[run.Row()] = MoveSeconds(move.planned.report);
        planned = run.Row() + 1;
    }
    for (const gcode::RowNote& note : program.Notes()) {
        if (note.kind == gcode::RowNote::Kind::Dwell && note.seconds > 0 &&
            note.beforeRow < planned) {
            left.fixed[note.beforeRow] += note.seconds;
        }
    }
    for (std::size_t r = program.LineCount(); r-- > 0;) {
        left.feed[r] += left.feed[r + 1];
        left.fixed[r] += left.fixed[r + 1];
    }
    return left;
}

double RemainingTime::SecondsFrom(std::size_t row, int feedPercent) const {
    if (row >= feed.size()) {
        return 0.0;
    }
    return fixed[row] + feed[row] * 100.0 / std::max(feedPercent, 1);
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

std::optional<std::string> UntrustedAxesQuestion(const std::array<std::string, 3>& whyNot) {
    std::string axes;
    for (const Axis a : kAxes) {
        if (!whyNot[index(a)].empty()) {
            axes += std::string(1, "XYZ"[index(a)]).append(": ").append(whyNot[index(a)]);
            axes += ' ';
        }
    }
    if (axes.empty()) {
        return std::nullopt;
    }
    return "The machine may not be where the displays say. " + axes +
           "The program would be cut from where the displays say the machine is. Run it anyway?";
}

std::string RunFinishedText(std::size_t lines, std::int64_t milliseconds) {
    const std::int64_t seconds = (std::max<std::int64_t>(milliseconds, 0) + 500) / 1000;
    std::string text = std::string("Run finished: ").append(std::to_string(lines));
    text += lines == 1 ? " line in " : " lines in ";
    if (seconds >= 3600) {
        text += std::to_string(seconds / 3600);
        text += " h ";
    }
    if (seconds >= 60) {
        text += std::to_string(seconds / 60 % 60);
        text += " min ";
    }
    text += std::to_string(seconds % 60);
    return text + " s";
}

} // namespace motion

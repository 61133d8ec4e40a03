#include "motion/program_run.h"

#include "encoding/number_text.h"
#include "encoding/thousandths.h"
#include "motion/run_control.h"

#include <algorithm>
#include <cmath>

namespace motion {

void RunSpeeds::Prepare() {
    travelSpeedFormatted = encoding::Format(travelSpeedText);
    cutSpeedFormatted = encoding::Format(cutSpeedText);
}

bool SameSpeeds(const RunSpeeds& a, const RunSpeeds& b) {
    return a.overrideGcode == b.overrideGcode && a.travelSpeedText == b.travelSpeedText &&
           a.cutSpeedText == b.cutSpeedText && a.feedPercent == b.feedPercent;
}

std::string_view RowSpeedText(const gcode::Program& program, std::size_t row,
                              const RunSpeeds& speeds, char (&buf)[16], std::string& longText) {
    const gcode::ProgramRow& r = program.Rows()[row];
    if (speeds.overrideGcode) {
        return r.IsFeedMove() ? speeds.cutSpeedFormatted : speeds.travelSpeedFormatted;
    }
    const gcode::WordCell feed = r.Word(gcode::FeedColumn - 1);
    if (!feed.present) {
        return {}; // not after a load: every row gets a feed word
    }
    if (!feed.pooled) {
        // At most 13 characters and the blank: a refused speed is quoted as the cell shows it.
        std::size_t len = gcode::WriteThousandths(feed.value, buf);
        if (feed.trailingBlank) {
            buf[len++] = ' ';
        }
        return std::string_view(buf, len);
    }
    longText = program.WordBody(feed);
    if (feed.trailingBlank) {
        longText.push_back(' ');
    }
    return longText;
}

ProgramRowMove PlanProgramRow(const gcode::Program& program, std::size_t row,
                              const MachineState& state, const PlanSettings& settings,
                              const RunSpeeds& speeds) {
    ProgramRowMove out;
    PlanProgramRow(program, row, state, PreparedPlanSettings(settings), speeds, out);
    return out;
}

void PlanProgramRow(const gcode::Program& program, std::size_t row, const MachineState& state,
                    const PreparedPlanSettings& settings, const RunSpeeds& speeds,
                    ProgramRowMove& out) {
    const gcode::ProgramRow& r = program.Rows()[row];
    MoveRequest request;
    for (const Axis a : kAxes) {
        const gcode::WordCell cell = r.Word(static_cast<int>(index(a)));
        if (!cell.present) {
            continue; // an empty cell leaves its axis alone
        }
        if (cell.pooled) {
            char unused[16]; // a pooled text is viewed where the program keeps it
            request.targets[index(a)] = program.WordBodyView(cell, unused);
        } else {
            // A number cell's text is the "0000.000" text of its thousandths.
            request.targetThousandths[index(a)] = cell.value;
        }
    }
    out.rapid = !r.IsFeedMove();
    request.rapid = out.rapid;
    out.via.clear();
    if (const gcode::Arc* arc = r.IsArc() ? program.ArcOf(row) : nullptr) {
        ArcVertices(*arc, r, state, settings.fields.arcToleranceMm, out.via);
        request.via = out.via;
    }
    char speedBuffer[16];
    std::string longSpeedText;
    const gcode::WordCell feed = r.Word(gcode::FeedColumn - 1);
    const bool overridden = speeds.feedPercent != 100 && !out.rapid;
    if (!speeds.overrideGcode && feed.present && !feed.pooled) {
        // The speed text is only quoted by a refusal, which ends the run: it is written out
        // only then, and the row planned again with it.
        request.speedThousandths =
            overridden
                ? static_cast<std::int32_t>(std::int64_t{feed.value} * speeds.feedPercent / 100)
                : feed.value;
        PlanMove(state, settings, request, out.planned);
        if (!out.planned.error) {
            return;
        }
    }
    request.speedText = RowSpeedText(program, row, speeds, speedBuffer, longSpeedText);
    if (overridden && !request.speedThousandths) {
        // A speed that is no number of thousandths is refused as it stands, or is so fast that
        // its step period is 0 at any share.
        request.speedThousandths = OverriddenSpeed(request.speedText, speeds.feedPercent);
    }
    PlanMove(state, settings, request, out.planned);
}

void ArcVertices(const gcode::Arc& arc, const gcode::ProgramRow& row, const MachineState& state,
                 double toleranceMm, std::vector<std::array<std::int64_t, 3>>& via) {
    via.clear();
    const std::size_t n = gcode::ArcSegmentCount(arc, toleranceMm).value_or(1);
    std::array<std::int64_t, 3> shown{};
    std::array<bool, 3> onArc{};
    for (const Axis a : kAxes) {
        onArc[index(a)] = row.Word(static_cast<int>(index(a))).present;
        if (!onArc[index(a)] &&
            !encoding::ThousandthsOfShownPosition(state[a].positionText, shown[index(a)])) {
            shown[index(a)] = 0; // planning refuses a display it cannot count from
        }
    }
    via.reserve(n > 0 ? n - 1 : 0);
    gcode::ArcWalk walk(arc, n);
    for (std::size_t k = 1; k < n; ++k) {
        const std::array<double, 3> point = walk.Next();
        std::array<std::int64_t, 3> v{};
        for (std::size_t i = 0; i < 3; ++i) {
            v[i] = onArc[i] ? std::llround(point[i] * 1000.0) : shown[i];
        }
        via.push_back(v);
    }
}

gcode::PlotRowInput RowPlotInput(const ProgramRowMove& move, const std::array<bool, 3>& inverse,
                                 bool preview) {
    gcode::PlotRowInput plot;
    const MachineState& after = move.planned.after;
    if (const auto& x = move.planned.echoes[index(Axis::X)]) {
        plot.xDistanceMm = x->distanceMm;
    }
    if (const auto& y = move.planned.echoes[index(Axis::Y)]) {
        plot.yDistanceMm = y->distanceMm;
    }
    plot.xDirection = after[Axis::X].direction ? 1 : 0;
    plot.yDirection = after[Axis::Y].direction ? 1 : 0;
    plot.inverseX = inverse[index(Axis::X)];
    plot.inverseY = inverse[index(Axis::Y)];
    plot.rapid = move.rapid;
    const std::string& zShown = after[Axis::Z].positionText;
    if (std::int32_t t = 0; gcode::ThousandthsOfWordText(zShown, t)) {
        plot.zShownMm = t / 1000.0;
    } else {
        plot.zShownMm = encoding::NumberOf(zShown).value_or(0.0);
    }
    plot.preview = preview;
    return plot;
}

void ClearDirections(MachineState& state) {
    for (AxisState& axis : state.axes) {
        axis.direction = false;
    }
}

double ReportSeconds(const encoding::MotionFields& fields) {
    const std::uint32_t longest = std::max({fields.xSteps, fields.ySteps, fields.zSteps});
    return static_cast<double>(longest) * fields.stepPeriod / 508000.0;
}

std::uint64_t MoveLongestSteps(const MoveReport& report) {
    if (report.error) {
        return 0;
    }
    // A straight move's parts' longest counts add up to its longest whole count plus at most
    // one step per part; one split beyond a hundred thousand times is not walked part by part.
    // An arc's parts go every way, and are walked.
    if (report.reportCount == 1 || (report.reportCount > 100000 && !report.followsPath)) {
        return std::max({report.steps[0], report.steps[1], report.steps[2]});
    }
    std::uint64_t longest = 0;
    if (report.parts.size() == report.reportCount) {
        // Part by part from the step positions, as PartSteps counts them, in one pass.
        std::array<std::int64_t, 3> before = report.stepsBefore;
        for (const MoveReport::Part& p : report.parts) {
            std::uint64_t most = 0;
            for (std::size_t i = 0; i < 3; ++i) {
                const std::int64_t d = p.stepsAfter[i] - before[i];
                most = std::max(most, d >= 0 ? static_cast<std::uint64_t>(d)
                                             : static_cast<std::uint64_t>(-d));
            }
            longest += most;
            before = p.stepsAfter;
        }
        return longest;
    }
    for (std::uint64_t part = 0; part < report.reportCount; ++part) {
        longest += std::max({report.PartSteps(Axis::X, part), report.PartSteps(Axis::Y, part),
                             report.PartSteps(Axis::Z, part)});
    }
    return longest;
}

double MoveSeconds(const MoveReport& report) {
    return static_cast<double>(MoveLongestSteps(report)) * report.stepPeriod / 508000.0;
}

} // namespace motion

#include "motion/program_check.h"

#include "motion/run_stepper.h"

namespace motion {

void ProgramCheck::Start(const PreparedPlanSettings& settings) {
    *this = ProgramCheck();
    if (settings.pulses.IsZero()) {
        zeroSteps = "Pulses per MM \"" + settings.fields.pulsesPerMmText +
                    "\" reads as 0: every report would ask for no steps, so the machine would "
                    "not move while the displays count on.";
    }
}

void ProgramCheck::Row(std::size_t row, const ProgramRowMove& move) {
    if (move.planned.error) {
        refusedRow = row;
        refusal = move.planned.error->message;
        return;
    }
    ++rowsPlanned;
    const MoveReport& report = move.planned.report;
    reports += report.reportCount;
    periods_ += static_cast<Periods>(MoveLongestSteps(report)) * report.stepPeriod;
    if (report.Split()) {
        ++splitRows;
        if (!firstSplitRow) {
            firstSplitRow = row;
        }
    }
}

void ProgramCheck::Add(const ProgramCheck& later) {
    if (refusedRow) {
        return; // the run stops there: nothing after it is planned
    }
    rowsPlanned += later.rowsPlanned;
    reports += later.reports;
    periods_ += later.periods_;
    splitRows += later.splitRows;
    if (!firstSplitRow) {
        firstSplitRow = later.firstSplitRow;
    }
    refusedRow = later.refusedRow;
    refusal = later.refusal;
}

void ProgramCheck::Dwells(const gcode::Program& program) {
    dwellSeconds = 0;
    for (const gcode::RowNote& note : program.Notes()) {
        if (note.kind == gcode::RowNote::Kind::Dwell && note.seconds > 0 &&
            (!refusedRow || note.beforeRow <= *refusedRow)) {
            dwellSeconds += note.seconds;
        }
    }
}

double ProgramCheck::Seconds() const {
    return static_cast<double>(periods_) / 508000.0 + dwellSeconds;
}

std::string ProgramCheck::Text(const gcode::KeptLineNumbers* fileLines) const {
    // Lines are named as the table heads them: by their file line where it is known.
    const auto lineOf = [fileLines](std::size_t row) {
        const std::uint64_t line = fileLines ? fileLines->FileLine(row) : 0;
        return std::to_string(line != 0 ? line : row + 1);
    };
    std::string text = std::to_string(reports) + (reports == 1 ? " report" : " reports") +
                       ", about " + DurationText(Seconds()) + " of machine time";
    if (dwellSeconds > 0) {
        text += " (" + DurationText(dwellSeconds) + " of it dwells)";
    }
    if (splitRows > 0) {
        text += "; " + std::to_string(splitRows) + (splitRows == 1 ? " line goes" : " lines go") +
                " out as several reports (first: line " + lineOf(*firstSplitRow) + ")";
    }
    if (refusedRow) {
        text += "; the run stops at line " + lineOf(*refusedRow) + ": " + refusal;
    }
    if (zeroSteps) {
        text += "; " + *zeroSteps;
    }
    if (splitRows == 0 && !refusedRow && !zeroSteps) {
        text += "; no warnings";
    }
    return text + ".";
}

} // namespace motion

// What planning a whole program found, told the same way by the dry run's summary and by the
// window's check after a load: how many reports and how much machine time, which lines go out
// as several reports, the first line that cannot be planned, and settings under which nothing
// would move. Fed one row at a time by whoever steps through the program.
#pragma once

#include "gcode/program.h"
#include "motion/planning.h"
#include "motion/program_run.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace motion {

class ProgramCheck {
public:
    // Before the first row: the settings the rows are planned with.
    void Start(const PreparedPlanSettings& settings);
    // Each row as it was planned, in order; a refused row is the last one fed.
    void Row(std::size_t row, const ProgramRowMove& move);
    // The check of the rows that follow the ones fed here, started with the same settings.
    void Add(const ProgramCheck& later);
    // The dwells the run waits out, up to the refused row if there is one: once every row is
    // fed.
    void Dwells(const gcode::Program& program);
    // Per report the longest count x step period / 508,000 s, and the dwells. The reports' time
    // is kept in step periods, so it comes out the same however the rows were split between
    // checks.
    double Seconds() const;
    double dwellSeconds = 0;

    std::size_t rowsPlanned = 0;
    std::uint64_t reports = 0;
    std::size_t splitRows = 0;
    std::optional<std::size_t> firstSplitRow;
    std::optional<std::size_t> refusedRow;
    std::string refusal;
    // The pulses per mm reads as 0: every report would ask for no steps at all.
    std::optional<std::string> zeroSteps;

    // One paragraph for the window, lines named by their file lines when given (as the table
    // heads its rows), else counted from 1.
    std::string Text(const gcode::KeptLineNumbers* fileLines = nullptr) const;

private:
    __extension__ using Periods = unsigned __int128;
    Periods periods_ = 0;
};

} // namespace motion

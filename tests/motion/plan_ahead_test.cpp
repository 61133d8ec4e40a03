#include "motion/plan_ahead.h"

#include "gcode/program_load.h"
#include "motion/preview_plan.h"
#include "motion/program_check.h"
#include "motion/slice_planner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace {

// Contours at falling depths, each with arcs, plunges and retracts: every axis moves within a
// few dozen rows, so a short lead finds the machine.
std::string contours(int passes) {
    std::string text = "G21 G90\nG0 Z5\n";
    for (int p = 0; p < passes; ++p) {
        const std::string x = std::to_string(p % 7);
        text += "G0 X" + x + " Y0\nG1 Z-" + std::to_string(1 + p % 3) + " F300\n";
        text += "G1 X" + x + "0.5 F" + std::to_string(400 + p % 5 * 100) + "\nY20\n";
        text += "G2 X" + x + "5.5 Y25 I5 J0\nG3 X" + x + "0.5 Y20 R5\nG1 X" + x + "\n";
        text += "G0 Z5\n";
    }
    return text;
}

std::string machineText(const motion::MachineState& machine) {
    std::string text;
    for (const motion::AxisState& axis : machine.axes) {
        text += " " + axis.positionText + (axis.direction ? "-" : "+");
    }
    return text;
}

// One row as the board would get it: every report's bytes, then where the displays stand.
std::string rowText(std::size_t row, const motion::ProgramRowMove& move) {
    const motion::PlannedMove& planned = move.planned;
    std::string text = std::to_string(row) + ":";
    if (planned.error) {
        return text + "refused " + planned.error->message;
    }
    for (std::uint64_t part = 0; part < planned.report.reportCount; ++part) {
        const auto report = planned.report.Report(part);
        for (const auto byte : report->bytes()) {
            text += std::to_string(byte) + ",";
        }
    }
    return text + machineText(planned.after);
}

std::string rowText(const motion::RunStepper& run) {
    return rowText(run.Row(), run.Current());
}

// Where a preview leaves the stepper: its last row, the last report built, the echoes.
std::string endText(const motion::RunStepper& run, const motion::MachineState& machine) {
    std::string text = std::string("row ").append(std::to_string(run.Row()));
    if (const motion::ProgramRowMove* last = run.LastPlanned()) {
        const auto report = last->planned.report.Report(0);
        for (const auto byte : report->bytes()) {
            text += ',';
            text += std::to_string(byte);
        }
    }
    for (const auto& echo : run.DirectionEchoes()) {
        text += echo ? (*echo ? " 1" : " 0") : " -";
    }
    return text + machineText(machine);
}

struct Planned {
    std::vector<std::string> rows;
    std::string end;
    bool shared = false; // the second thread's rows were taken
};

// A preview: rows up to `from` here, the rest on the second thread when its guess holds (the
// stepper taking over where it ended), else here too.
Planned plan(const gcode::Program& program, std::size_t from, const motion::PlanSettings& fields,
             const motion::PlanSettings& asTheRunReadsThem) {
    const motion::PreparedPlanSettings settings(fields);
    motion::RunSpeeds speeds;
    speeds.Prepare();
    motion::MachineState machine;
    gcode::PlotPen pen;
    motion::RunStepper run;
    run.Begin(&program, motion::RunMode::Preview, machine, pen, true);
    Planned out;
    std::vector<std::string> later;
    motion::PlanAhead ahead(
        program, from, motion::RunMode::Preview, machine, settings, speeds,
        [&](const motion::RunStepper& other) { later.push_back(rowText(other)); }, 64);
    // As a run: a refused row is the last.
    const auto planTo = [&](std::size_t to) {
        while (run.NextRow() < to) {
            const bool refused = run.PlanNext(settings, speeds).planned.error.has_value();
            out.rows.push_back(rowText(run));
            if (refused) {
                return false;
            }
        }
        return true;
    };
    if (planTo(from)) {
        out.shared = ahead.Finish(machine, asTheRunReadsThem, speeds);
        if (out.shared) {
            out.rows.insert(out.rows.end(), later.begin(), later.end());
            run.Adopt(ahead.Run());
        } else {
            planTo(program.LineCount());
        }
    }
    out.end = endText(run, machine);
    return out;
}

TEST(PlanAhead, RowsPlannedOnTwoThreadsAreTheRowsOfOneOrNoneAreTaken) {
    gcode::LoadSettings load;
    load.feeds = {"500", "1000"};
    const gcode::Program cam = gcode::LoadGcode(contours(60), load);
    // Z comes down to where it started, and only sideways moves follow for longer than the
    // lead: the second thread finds every display right, but cannot know Z's direction bit.
    std::string flatText = "G1 Z1 F200\nG1 Z0\n";
    for (int i = 0; i < 400; ++i) {
        flatText += "G1 X" + std::to_string(i % 9) + " Y" + std::to_string(i % 4) + "\n";
    }
    const gcode::Program flat = gcode::LoadGcode(flatText, load);
    // A move beyond what can be counted, late in the program: the run stops there.
    const gcode::Program refused =
        gcode::LoadGcode(contours(40) + "G1 X3 F0\n" + contours(2), load);
    // The lead cannot know where Z stood before the row before the last, which puts every
    // axis in its place; the last row is refused.
    std::string refusedLastText = "G1 Z-1 F200\n";
    for (int i = 0; i < 100; ++i) {
        refusedLastText += "G1 X" + std::to_string(i % 9) + " Y" + std::to_string(i % 4) + "\n";
    }
    const gcode::Program refusedLast =
        gcode::LoadGcode(refusedLastText + "G1 X1 Y1 Z5\nG1 X3 F0\n", load);
    motion::PlanSettings fields;
    motion::PlanSettings otherSpeedField = fields;
    otherSpeedField.pwDelayText = "50000";

    struct Case {
        const char* what;
        const gcode::Program& program;
        std::size_t from;
        const motion::PlanSettings& runReads;
        bool shared;
    };
    const Case cases[] = {
        {"contours, split mid-way", cam, cam.LineCount() / 2, fields, true},
        {"contours, split within the lead", cam, 10, fields, true},
        {"contours, split at the last row", cam, cam.LineCount() - 1, fields, true},
        {"settings changed while the first part ran", cam, cam.LineCount() / 2, otherSpeedField,
         false},
        {"an axis that never moved in the lead", flat, 300, fields, false},
        {"a refused row in the second part", refused, refused.LineCount() / 3, fields, true},
        {"the second part's only row refused", refusedLast, refusedLast.LineCount() - 1, fields,
         true},
    };
    for (const Case& c : cases) {
        ASSERT_GT(c.program.LineCount(), c.from) << c.what;
        const Planned whole = plan(c.program, c.program.LineCount(), fields, fields);
        const Planned split = plan(c.program, c.from, fields, c.runReads);
        EXPECT_EQ(split.shared, c.shared) << c.what;
        EXPECT_EQ(split.rows, whole.rows) << c.what;
        EXPECT_EQ(split.end, whole.end) << c.what;
    }
}

TEST(PlanAhead, ChecksOfTwoPartsAddUpToTheCheckOfTheWhole) {
    gcode::LoadSettings load;
    load.feeds = {"500", "1000"};
    const gcode::Program program =
        gcode::LoadGcode(contours(30) + "G1 X3 F0\n" + contours(2), load);
    const motion::PreparedPlanSettings settings{motion::PlanSettings{}};
    motion::RunSpeeds speeds;
    speeds.Prepare();
    const auto check = [&](std::size_t from, std::size_t to, motion::ProgramCheck& into) {
        motion::MachineState machine;
        gcode::PlotPen pen;
        motion::RunStepper run;
        run.Begin(&program, motion::RunMode::Live, machine, pen, false);
        while (run.NextRow() < to) {
            const motion::ProgramRowMove& move = run.PlanNext(settings, speeds);
            if (run.Row() >= from) {
                into.Row(run.Row(), move);
            }
            if (move.planned.error) {
                break;
            }
        }
    };
    motion::ProgramCheck whole;
    whole.Start(settings);
    check(0, program.LineCount(), whole);
    for (const std::size_t cut : {std::size_t{1}, program.LineCount() / 2, program.LineCount()}) {
        motion::ProgramCheck first;
        motion::ProgramCheck second;
        first.Start(settings);
        second.Start(settings);
        check(0, cut, first);
        check(cut, program.LineCount(), second);
        first.Add(second);
        EXPECT_EQ(first.Text(), whole.Text()) << cut;
        EXPECT_EQ(first.Seconds(), whole.Seconds()) << cut;
        EXPECT_EQ(first.rowsPlanned, whole.rowsPlanned) << cut;
    }
    EXPECT_TRUE(whole.refusedRow.has_value());
}

TEST(SlicePlanner, RowsPlannedWhileTheFileIsReadAreTheRowsOfTheWholeProgram) {
    gcode::LoadSettings load;
    load.feeds = {"500", "1000"};
    // Beyond 32 bits of thousandths a cell keeps its text: a slice must take it along.
    const auto wide = [](const std::string& x) {
        return "G1 X" + x + " Y3\nG2 X" + x + " Y13 I0 J5\nG1 X1\n";
    };
    const std::string arcs = "G1 X0.5 F200\n" + contours(20) + wide("2147484.5") + contours(3) +
                             wide("2147485.25") + "G1 X1 F2147484\n";
    const std::string refusedText = "G1 X0.5 F200\n" + contours(8) + "G1 X3 F0\n" + contours(2);
    constexpr std::size_t All = std::numeric_limits<std::size_t>::max();
    struct Case {
        const char* what;
        const std::string& text;
        std::size_t rowsPerSlice;
        std::size_t stopAt; // asked once the whole file is read
    };
    const Case cases[] = {
        {"slices of one row", arcs, 1, All},      {"slices of seven rows", arcs, 7, All},
        {"one slice", arcs, 100000, All},         {"stopped part-way", arcs, 5, 40},
        {"stopped at the first row", arcs, 5, 0}, {"a refused row", refusedText, 3, All},
    };
    const motion::PreparedPlanSettings settings{motion::PlanSettings{}};
    motion::RunSpeeds speeds;
    speeds.Prepare();
    for (const Case& c : cases) {
        const gcode::Program whole = gcode::LoadGcode(c.text, load);
        ASSERT_EQ(whole.dialect, gcode::Dialect::Reader) << c.what;
        std::vector<std::string> expected;
        std::vector<std::string> machines; // after each row
        motion::MachineState machine;
        gcode::PlotPen pen;
        motion::RunStepper run;
        run.Begin(&whole, motion::RunMode::Live, machine, pen, false);
        while (run.HasNext()) {
            run.PlanNext(settings, speeds);
            expected.push_back(rowText(run));
            machines.push_back(machineText(machine));
            if (run.Current().planned.error) {
                break;
            }
        }

        std::vector<std::string> planned;
        motion::SlicePlanner planner(motion::RunMode::Live, motion::MachineState(), settings,
                                     speeds, [&](std::size_t row, const motion::RunStepper& run) {
                                         planned.push_back(rowText(row, run.Current()));
                                     });
        gcode::ProgramLoad reading(load);
        std::size_t given = 0;
        reading.SliceRows(
            [&](gcode::Program slice) {
                given += slice.LineCount();
                planner.Add(std::move(slice));
            },
            c.rowsPerSlice);
        reading.Feed(c.text);
        reading.Finish();
        ASSERT_EQ(given, whole.LineCount()) << c.what;
        const std::size_t stop = planner.StopAt(c.stopAt);
        EXPECT_GE(stop, std::min(c.stopAt, whole.LineCount())) << c.what;
        planner.Finish();
        const std::size_t rows = planner.RowsPlanned();
        ASSERT_EQ(planned.size(), rows) << c.what;
        const bool refused = expected.back().find("refused") != std::string::npos;
        EXPECT_EQ(planner.Refused(), refused) << c.what;
        EXPECT_EQ(rows, refused ? expected.size() : std::min(stop, whole.LineCount())) << c.what;
        EXPECT_TRUE(std::equal(planned.begin(), planned.end(), expected.begin())) << c.what;
        if (rows > 0 && !planner.Refused()) {
            EXPECT_EQ(machineText(planner.Machine()), machines[rows - 1]) << c.what;
        }
    }
}

// The preview planned as the file is read takes the rows of either loader, and starts again
// when a file the original loader seemed to read turns out to load as the reader reads it.
TEST(EarlyPreview, PlansTheRowsOfTheLoaderChosenWhicheverItTurnsOutToBe) {
    gcode::LoadSettings load;
    load.feeds = {"500", "1000"};
    struct Case {
        const char* what;
        std::string text;
        gcode::Dialect chosen;
    };
    std::string original = "G00 Z5\nG01 Z-1 F300\n";
    for (int i = 0; i < 30; ++i) {
        original += "X" + std::to_string(i % 7) + ".5 Y" + std::to_string(i % 5) + "\n";
    }
    const Case cases[] = {
        {"the original loader's rows to the end", original, gcode::Dialect::Design},
        {"the reader's after twenty rows", original + "G0 X3\n" + contours(2),
         gcode::Dialect::Reader},
        {"the reader's from the first line", contours(3), gcode::Dialect::Reader},
    };
    const motion::PlanSettings fields;
    const motion::PreparedPlanSettings settings{fields};
    motion::RunSpeeds speeds;
    speeds.Prepare();
    for (const Case& c : cases) {
        const gcode::Program whole = gcode::LoadGcode(c.text, load);
        ASSERT_EQ(whole.dialect, c.chosen) << c.what;
        motion::ProgramCheck expected;
        expected.Start(settings);
        motion::MachineState machine;
        gcode::PlotPen pen;
        motion::RunStepper run;
        run.Begin(&whole, motion::RunMode::Preview, machine, pen, false);
        while (run.HasNext()) {
            expected.Row(run.NextRow(), run.PlanNext(settings, speeds));
        }

        motion::EarlyPreview early(fields, speeds);
        gcode::ProgramLoad reading(load);
        reading.SliceRows([&](gcode::Program slice) { early.Add(std::move(slice)); }, 4, true);
        reading.Feed(c.text);
        reading.Finish();
        ASSERT_TRUE(early.Plans(whole, fields, speeds, motion::MachineState())) << c.what;
        early.Planner().NoMoreSlices();
        early.Planner().Finish();
        EXPECT_EQ(early.Planner().RowsPlanned(), whole.LineCount()) << c.what;
        EXPECT_EQ(early.check.Text(), expected.Text()) << c.what;
        EXPECT_EQ(early.check.reports, expected.reports) << c.what;
        EXPECT_EQ(machineText(early.Planner().Machine()), machineText(machine)) << c.what;
    }
}

} // namespace

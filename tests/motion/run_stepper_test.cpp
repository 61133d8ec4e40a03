// The run stepper and GOTO planning without a window.
#include "motion/goto_move.h"
#include "motion/run_stepper.h"

#include "gcode/loader.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace {

using motion::Axis;
using motion::RunMode;

const gcode::FeedDefaults Feeds{"500", "1000"};

struct Stepped {
    explicit Stepped(const std::string& file) : program(gcode::LoadProgram(file, Feeds)) {
        speeds.travelSpeedText = "1000";
        speeds.cutSpeedText = "500";
        speeds.Prepare();
    }

    // Steps through every row; returns the number of rows planned without an error.
    std::size_t RunAll(RunMode mode) {
        run.Begin(&program, mode, machine, pen, false);
        std::size_t planned = 0;
        while (run.HasNext() && !run.PlanNext(settings, speeds).planned.error) {
            ++planned;
        }
        run.End();
        return planned;
    }

    gcode::Program program;
    motion::MachineState machine;
    gcode::PlotPen pen;
    motion::RunSpeeds speeds;
    motion::PreparedPlanSettings settings{motion::PlanSettings{}};
    motion::RunStepper run;
};

TEST(RunStepper, RunModeFollowsSimulateThenThePreviewState) {
    EXPECT_EQ(motion::ChooseRunMode(true, false), RunMode::Simulate);
    EXPECT_EQ(motion::ChooseRunMode(true, true), RunMode::Simulate);
    EXPECT_EQ(motion::ChooseRunMode(false, true), RunMode::Live);
    EXPECT_EQ(motion::ChooseRunMode(false, false), RunMode::Preview);
}

TEST(RunStepper, OnlyALiveRunLeavesTheMachineWhereTheProgramTookIt) {
    for (const RunMode mode : {RunMode::Live, RunMode::Simulate, RunMode::Preview}) {
        SCOPED_TRACE(static_cast<int>(mode));
        Stepped s("G01 X10 Y-5 F100\nG01 Z2\n");
        s.machine[Axis::X] = {"0001.500", 1.5, false, {}};
        EXPECT_EQ(s.RunAll(mode), 2u);
        const bool live = mode == RunMode::Live;
        EXPECT_EQ(s.machine[Axis::X].positionText, live ? "0010.000" : "0001.500");
        EXPECT_EQ(s.machine[Axis::X].positionMm, live ? 10.0 : 1.5);
        EXPECT_EQ(s.machine[Axis::Y].positionText, live ? "-0005.000" : "0000.000");
        // The bits stay as the last reports left them, in every mode: X up, Y down, Z up.
        EXPECT_TRUE(s.machine[Axis::X].direction);
        EXPECT_FALSE(s.machine[Axis::Y].direction);
        EXPECT_FALSE(s.machine[Axis::Z].direction);
    }
}

TEST(RunStepper, BeginClearsTheBitsAndStartsThePenAtTheOriginAndTheShownZ) {
    Stepped s("G01 X50 Y20 F100\n");
    s.machine[Axis::X].direction = true;
    s.machine[Axis::Z] = {"-0002.500", -2.5, true, {}};
    s.run.Begin(&s.program, RunMode::Live, s.machine, s.pen, true);
    EXPECT_FALSE(s.machine[Axis::X].direction);
    EXPECT_FALSE(s.machine[Axis::Z].direction);
    EXPECT_EQ(s.pen.PlotX, 60);
    EXPECT_EQ(s.pen.PlotY, 4555);
    EXPECT_DOUBLE_EQ(s.pen.PlotScale, 19.2 * 235 / 50);
    EXPECT_EQ(s.pen.LastCutZ, -2.5);

    motion::RunStepper nothing;
    nothing.Begin(nullptr, RunMode::Live, s.machine, s.pen, true);
    EXPECT_EQ(nothing.RowCount(), 0u);
    EXPECT_FALSE(nothing.HasNext());
    EXPECT_EQ(s.pen.PlotScale, 19.2);
}

TEST(RunStepper, ARefusedRowLeavesTheMachineAndTheLastGoodReportAsTheRowBefore) {
    Stepped s("G01 X5 F100\nG01 X7 Y3 F0.5\nG01 X9\n");
    EXPECT_EQ(s.RunAll(RunMode::Live), 1u);
    EXPECT_EQ(s.run.Row(), 1u);
    ASSERT_TRUE(s.run.Current().planned.error);
    // The refused move shows how far its axes got; the machine did not go there.
    EXPECT_EQ(s.run.Current().planned.after[Axis::X].positionText, "0007.000");
    EXPECT_EQ(s.machine[Axis::X].positionText, "0005.000");
    EXPECT_EQ(s.machine[Axis::Y].positionText, "0000.000");
    ASSERT_NE(s.run.LastPlanned(), nullptr);
    EXPECT_EQ(s.run.LastPlanned()->planned.report.steps[0], 2666u);
}

TEST(RunStepper, DirectionEchoesCoverOnlyTheAxesTheRunPlanned) {
    Stepped s("G01 Z-1 F100\nG01 X-2\nG01 Z1\n");
    s.RunAll(RunMode::Live);
    const auto& echoes = s.run.DirectionEchoes();
    EXPECT_EQ(echoes[0], std::optional<bool>(false)); // X down
    EXPECT_EQ(echoes[1], std::nullopt);               // Y in no row
    EXPECT_EQ(echoes[2], std::optional<bool>(false)); // Z up, the last Z row
}

TEST(RunStepper, RemainingTimeSumsTheRowsAheadAndStopsAtARefusedRow) {
    // 533 steps at period 571, the same again as a rapid, then a refused speed.
    Stepped s("G01 X1 F100\nG00 X2 F100\nG01 X3 F0.5\nG01 X4 F100\n");
    const motion::RemainingTime left =
        motion::RemainingSeconds(s.program, s.machine, s.settings, s.speeds);
    const double line = 533.0 * 571 / 508000;
    ASSERT_EQ(left.feed.size(), 5u);
    EXPECT_DOUBLE_EQ(left.SecondsFrom(0, 100), 2 * line);
    EXPECT_DOUBLE_EQ(left.SecondsFrom(1, 100), line);
    // The override acts on the feed move only.
    EXPECT_DOUBLE_EQ(left.SecondsFrom(0, 50), 3 * line);
    EXPECT_DOUBLE_EQ(left.SecondsFrom(1, 50), line);
    for (std::size_t row : {2u, 3u, 4u, 9u}) {
        EXPECT_EQ(left.SecondsFrom(row, 100), 0);
    }
    EXPECT_EQ(s.machine[Axis::X].positionText, "0000.000"); // worked on a copy
}

TEST(RunStepper, DurationsReadAsTheOperatorSaysThem) {
    EXPECT_EQ(motion::DurationText(0.04), "0.0 s");
    EXPECT_EQ(motion::DurationText(12.34), "12.3 s");
    EXPECT_EQ(motion::DurationText(245), "4 min 05.0 s");
    EXPECT_EQ(motion::DurationText(3723.4), "1 h 02 min 03.4 s");
    EXPECT_EQ(motion::RunFinishedText(27, 72400), "Run finished: 27 lines in 1 min 12 s");
    EXPECT_EQ(motion::RunFinishedText(1, 499), "Run finished: 1 line in 0 s");
    EXPECT_EQ(motion::RunFinishedText(3, 1500), "Run finished: 3 lines in 2 s");
    EXPECT_EQ(motion::RunFinishedText(100000, 3723400),
              "Run finished: 100000 lines in 1 h 2 min 3 s");
}

TEST(GotoMove, EntriesAreNormalisedAndReadForTheirLeadingNumber) {
    EXPECT_EQ(motion::NormaliseGotoEntry("12.3456"), "0012.346");
    EXPECT_EQ(motion::NormaliseGotoEntry("-5"), "-0005.000");
    EXPECT_EQ(motion::NormaliseGotoEntry("12mm"), "12mm"); // left as typed

    motion::MachineState machine;
    machine[Axis::X] = {"-0010.000", -10, false, {}};
    const motion::PlannedMove move =
        motion::PlanGoto(machine, motion::PlanSettings{}, {"-0005.000", "12mm", "abc"}, "1000");
    ASSERT_FALSE(move.error);
    EXPECT_EQ(move.after[Axis::X].positionText, "-0005.000"); // a positive move of 5
    EXPECT_TRUE(move.after[Axis::X].direction);
    EXPECT_EQ(move.after[Axis::Y].positionText, "0012.000");
    EXPECT_EQ(move.after[Axis::Z].positionText, "0000.000"); // no leading number: 0
    EXPECT_TRUE(move.report.rapid);
    EXPECT_EQ(move.report.stepPeriod, 57u);
}

TEST(GotoMove, TravelSpeedIsFormattedFirstAndMustBeAtLeastOne) {
    const motion::MachineState machine;
    EXPECT_EQ(motion::PlanGoto(machine, {}, {"1", "0", "0"}, "1000.9").report.stepPeriod, 57u);
    const motion::PlannedMove slow = motion::PlanGoto(machine, {}, {"1", "0", "0"}, "0.9");
    ASSERT_TRUE(slow.error);
    EXPECT_EQ(slow.error->kind, motion::PlanError::Kind::SpeedBelowOne);
}

} // namespace

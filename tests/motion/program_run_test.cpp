#include "motion/program_run.h"

#include "gcode/loader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

const gcode::FeedDefaults Feeds{"500", "1000"};

struct LoadedRun {
    explicit LoadedRun(const std::string& file) : program(gcode::LoadProgram(file, Feeds)) {
        speeds.travelSpeedText = "1000";
        speeds.cutSpeedText = "500";
        speeds.Prepare();
        motion::StartRun(state);
    }

    // Plans every row as the run does and returns the drawn segments.
    std::vector<gcode::PlotSegment> Draw(int runMode) {
        gcode::ResetPlot(pen, program.XExtent, program.YExtent, scaleToFit, 0);
        std::vector<gcode::PlotSegment> drawn;
        for (std::size_t r = 0; r < program.LineCount(); ++r) {
            motion::ProgramRowMove move =
                motion::PlanProgramRow(program, r, state, settings, speeds);
            EXPECT_FALSE(move.planned.error) << "row " << r;
            state = move.planned.after;
            if (auto s = gcode::PlotRow(pen, motion::RowPlotInput(move, settings, runMode))) {
                drawn.push_back(*s);
            }
        }
        return drawn;
    }

    gcode::Program program;
    motion::MachineState state;
    motion::PlanSettings settings;
    motion::RunSpeeds speeds;
    gcode::PlotPen pen;
    bool scaleToFit = false;
};

TEST(ProgramRun, SpeedTableTakesTheFeedCellOrTheOverrideSpeeds) {
    LoadedRun run("G00 X1\nG01 X2 F75\nG01 X3\n");
    char buf[16];
    std::string text;
    EXPECT_EQ(motion::RowSpeedText(run.program, 0, run.speeds, buf, text), "1000.000");
    EXPECT_EQ(motion::RowSpeedText(run.program, 1, run.speeds, buf, text), "0075.000 ");
    run.speeds.overrideGcode = true;
    run.speeds.cutSpeedText = "0500.00";
    run.speeds.travelSpeedText = "fast";
    run.speeds.Prepare();
    EXPECT_EQ(motion::RowSpeedText(run.program, 0, run.speeds, buf, text), "fast");
    EXPECT_EQ(motion::RowSpeedText(run.program, 1, run.speeds, buf, text), "0500.000");
}

TEST(ProgramRun, OverrideGivesEveryFeedRowTheCutSpeedPeriod) {
    LoadedRun run("G01 X1 F75\nG01 X2 F3000\nY4\n");
    run.speeds.overrideGcode = true;
    run.speeds.cutSpeedText = "0500.00";
    run.speeds.Prepare();
    for (std::size_t r = 0; r < run.program.LineCount(); ++r) {
        const motion::ProgramRowMove move =
            motion::PlanProgramRow(run.program, r, run.state, run.settings, run.speeds);
        ASSERT_FALSE(move.planned.error);
        EXPECT_EQ(move.planned.report.stepPeriod, 114u) << r;
        run.state = move.planned.after;
    }
}

TEST(ProgramRun, ZOnlyRowMovesNeitherXNorYNorThePen) {
    LoadedRun run("G01 X5 Y5\nG01 Z-2\n");
    const std::vector<gcode::PlotSegment> drawn = run.Draw(gcode::LiveRunMode);
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_EQ(drawn[1].x0, drawn[1].x1);
    EXPECT_EQ(drawn[1].y0, drawn[1].y1);
    // X and Y keep the bits of the first row's move.
    EXPECT_TRUE(run.state[motion::Axis::X].direction);
    EXPECT_TRUE(run.state[motion::Axis::Y].direction);
    EXPECT_TRUE(run.state[motion::Axis::Z].direction); // down
}

TEST(ProgramRun, PreviewDrawsTheSquareProgramInGreenFromTheOrigin) {
    LoadedRun run("G00 X0 Y0\nG01 X10\nG01 Y10\nG01 X0\nG01 Y0\n");
    const std::vector<gcode::PlotSegment> drawn = run.Draw(gcode::PreviewRunMode);
    ASSERT_EQ(drawn.size(), 4u);
    const double corners[5][2] = {{60, 4555}, {252, 4555}, {252, 4363}, {60, 4363}, {60, 4555}};
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        EXPECT_EQ(drawn[i].colour, gcode::PlotGreen);
        EXPECT_NEAR(drawn[i].x0, corners[i][0], 1e-9);
        EXPECT_NEAR(drawn[i].y0, corners[i][1], 1e-9);
        EXPECT_NEAR(drawn[i].x1, corners[i + 1][0], 1e-9);
        EXPECT_NEAR(drawn[i].y1, corners[i + 1][1], 1e-9);
    }
}

TEST(ProgramRun, InvertedAxesStillPlotTowardsLargerXAndY) {
    LoadedRun run("G01 X10 Y10\nG01 X0\n");
    run.settings.inverse = {true, true, false};
    const std::vector<gcode::PlotSegment> drawn = run.Draw(gcode::PreviewRunMode);
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_NEAR(drawn[0].x1, 252, 1e-9);
    EXPECT_NEAR(drawn[0].y1, 4363, 1e-9);
    EXPECT_NEAR(drawn[1].x1, 60, 1e-9);
}

TEST(ProgramRun, LiveRunColoursFollowTheDepthPasses) {
    LoadedRun run("G00 Z1\nG01 Z-1\nG01 X10\nG01 Z-2\nG01 X0\nG00 Z1\nG01 X5\n");
    const std::vector<gcode::PlotSegment> drawn = run.Draw(gcode::LiveRunMode);
    const std::vector<std::uint32_t> colours = {gcode::PlotBlue, gcode::PlotBlack, gcode::PlotBlack,
                                                gcode::PlotRed,  gcode::PlotRed,   gcode::PlotBlue,
                                                gcode::PlotRed};
    ASSERT_EQ(drawn.size(), colours.size());
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        EXPECT_EQ(drawn[i].colour, colours[i]) << "row " << i;
    }
}

TEST(ProgramRun, RowThatCannotBePlannedLeavesAnErrorInTheOperatorsWords) {
    LoadedRun run("G01 X5) Y2\nG01 X1 F0.5\n");
    motion::ProgramRowMove bad =
        motion::PlanProgramRow(run.program, 0, run.state, run.settings, run.speeds);
    ASSERT_TRUE(bad.planned.error);
    EXPECT_NE(bad.planned.error->message.find("5)"), std::string::npos);
    EXPECT_EQ(bad.planned.after[motion::Axis::Y].positionText, "0000.000"); // nothing advanced

    bad = motion::PlanProgramRow(run.program, 1, run.state, run.settings, run.speeds);
    ASSERT_TRUE(bad.planned.error);
    // Positions advance before the speed is read, as the displays then show.
    EXPECT_EQ(bad.planned.after[motion::Axis::X].positionText, "0001.000");
}

TEST(ProgramRun, MachineTimeUsesTheLongestCountOfEachReport) {
    encoding::MotionFields f;
    f.xSteps = 5333;
    f.ySteps = 2666;
    f.stepPeriod = 57;
    EXPECT_DOUBLE_EQ(motion::ReportSeconds(f), 5333.0 * 57 / 508000);

    // At 533.333 pulses per mm, 40000 mm of X is two reports of 10,666,660 steps; Y 10 mm
    // rides in both.
    LoadedRun run("G01 X40000 Y10 F1000\n");
    const motion::ProgramRowMove move =
        motion::PlanProgramRow(run.program, 0, run.state, run.settings, run.speeds);
    ASSERT_EQ(move.planned.report.reportCount, 2u);
    EXPECT_DOUBLE_EQ(motion::MoveSeconds(move.planned.report), 2 * 10666660.0 * 57 / 508000);
}

} // namespace

#include "motion/program_run.h"
#include "motion/run_stepper.h"

#include "encoding/thousandths.h"
#include "gcode/loader.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

const gcode::FeedDefaults Feeds{"500", "1000"};

struct LoadedRun {
    explicit LoadedRun(const std::string& file) : program(gcode::LoadProgram(file, Feeds)) {
        speeds.travelSpeedText = "1000";
        speeds.cutSpeedText = "500";
        speeds.Prepare();
        motion::ClearDirections(state);
    }

    // Steps through every row as the run does and returns the drawn segments.
    std::vector<gcode::PlotSegment> Draw(motion::RunMode mode) {
        motion::RunStepper run;
        run.Begin(&program, mode, state, pen, scaleToFit);
        const motion::PreparedPlanSettings prepared(settings);
        std::vector<gcode::PlotSegment> drawn;
        while (run.HasNext()) {
            EXPECT_FALSE(run.PlanNext(prepared, speeds).planned.error) << "row " << run.Row();
            run.DrawRow(drawn);
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
    const std::vector<gcode::PlotSegment> drawn = run.Draw(motion::RunMode::Live);
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
    const std::vector<gcode::PlotSegment> drawn = run.Draw(motion::RunMode::Preview);
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
    const std::vector<gcode::PlotSegment> drawn = run.Draw(motion::RunMode::Preview);
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_NEAR(drawn[0].x1, 252, 1e-9);
    EXPECT_NEAR(drawn[0].y1, 4363, 1e-9);
    EXPECT_NEAR(drawn[1].x1, 60, 1e-9);
}

TEST(ProgramRun, LiveRunColoursFollowTheDepthPasses) {
    LoadedRun run("G00 Z1\nG01 Z-1\nG01 X10\nG01 Z-2\nG01 X0\nG00 Z1\nG01 X5\n");
    const std::vector<gcode::PlotSegment> drawn = run.Draw(motion::RunMode::Live);
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

namespace {

// What a run planned before number cells went over as thousandths: every cell as its text.
motion::PlannedMove planFromCellTexts(const gcode::Program& program, std::size_t row,
                                      const motion::MachineState& state,
                                      const motion::PlanSettings& settings,
                                      const motion::RunSpeeds& speeds) {
    const gcode::ProgramRow& r = program.Rows()[row];
    std::array<std::string, 3> targets;
    motion::MoveRequest request;
    for (const motion::Axis a : motion::kAxes) {
        const gcode::WordCell cell = r.Word(static_cast<int>(motion::index(a)));
        if (cell.present) {
            targets[motion::index(a)] = program.WordBody(cell);
            request.targets[motion::index(a)] = targets[motion::index(a)];
        }
    }
    char buf[16];
    std::string longText;
    request.speedText = motion::RowSpeedText(program, row, speeds, buf, longText);
    request.rapid = !r.IsFeedMove();
    return motion::PlanMove(state, settings, request);
}

void expectSameRow(const motion::PlannedMove& a, const motion::PlannedMove& b, std::size_t row) {
    ASSERT_EQ(a.error.has_value(), b.error.has_value()) << "row " << row;
    if (a.error) {
        EXPECT_EQ(a.error->message, b.error->message) << "row " << row;
    }
    for (const motion::Axis ax : motion::kAxes) {
        EXPECT_EQ(a.after[ax].positionText, b.after[ax].positionText) << "row " << row;
        EXPECT_EQ(a.after[ax].positionMm, b.after[ax].positionMm) << "row " << row;
        EXPECT_EQ(a.after[ax].direction, b.after[ax].direction) << "row " << row;
        ASSERT_EQ(a.echoes[motion::index(ax)].has_value(), b.echoes[motion::index(ax)].has_value());
        if (a.echoes[motion::index(ax)]) {
            EXPECT_EQ(a.echoes[motion::index(ax)]->distanceText,
                      b.echoes[motion::index(ax)]->distanceText)
                << "row " << row;
        }
    }
    EXPECT_EQ(a.report.steps, b.report.steps) << "row " << row;
    EXPECT_EQ(a.report.stepPeriod, b.report.stepPeriod) << "row " << row;
    EXPECT_EQ(a.report.reportCount, b.report.reportCount) << "row " << row;
    EXPECT_EQ(a.report.Report(0), b.report.Report(0)) << "row " << row;
}

} // namespace

TEST(ProgramRun, RowsPlanAsTheirCellTextsWouldPlanThem) {
    // Number cells, cells kept as text (beyond the 32-bit range, long digit strings, an
    // exponent), lower case, a speed change on nearly every row and back again, a refused
    // speed (quoted with the cell's blank) and a refused target.
    const std::string file = "G00 X3000000 Y-2.5\nG01 x1.23456789012345678 F75\n"
                             "X-0.0004 Y1e1 F3000\nZ-1.5 F75\ny-2147483.648 F3000\n"
                             "G01 X9999.9995 Y12000 Z1.25\nG00 X0 Y0 Z5\nG01 X1 F0.5\n"
                             "G01 X2 F100\nG01 X5) F100\n";
    for (const bool overrideGcode : {false, true}) {
        LoadedRun run(file);
        run.settings.inverse = {true, false, true};
        run.speeds.overrideGcode = overrideGcode;
        run.speeds.Prepare();
        const motion::PreparedPlanSettings prepared(run.settings);
        motion::ProgramRowMove moves[2];
        motion::MachineState textState = run.state;
        std::size_t refused = 0;
        for (std::size_t r = 0; r < run.program.LineCount(); ++r) {
            motion::ProgramRowMove& move = moves[r % 2];
            motion::PlanProgramRow(run.program, r, textState, prepared, run.speeds, move);
            const motion::PlannedMove byText =
                planFromCellTexts(run.program, r, textState, run.settings, run.speeds);
            expectSameRow(move.planned, byText, r);
            const motion::ProgramRowMove once =
                motion::PlanProgramRow(run.program, r, textState, run.settings, run.speeds);
            expectSameRow(once.planned, byText, r);
            refused += byText.error ? 1 : 0;
            textState = byText.after;
        }
        EXPECT_EQ(refused, overrideGcode ? 1u : 2u); // the slow speed only without Override
    }
}

TEST(ProgramRun, NumberCellTextsAreTheTextsOfTheirThousandths) {
    // A number cell goes to planning as thousandths, which stand for the cell's own text.
    std::mt19937 random(2130);
    std::uniform_int_distribution<std::int32_t> any(INT32_MIN, INT32_MAX);
    std::vector<std::int32_t> values = {0,       1,        -1,        999,      -999,
                                        9999999, 10000000, INT32_MAX, INT32_MIN};
    for (int i = 0; i < 100000; ++i) {
        values.push_back(any(random) >> (i % 31));
    }
    for (const std::int32_t v : values) {
        char cell[16];
        const std::size_t len = gcode::WriteThousandths(v, cell);
        ASSERT_EQ(std::string(cell, len), encoding::FormatThousandths(v)) << v;
    }
}

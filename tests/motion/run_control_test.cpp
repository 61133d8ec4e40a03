// Stops, dwells, the feed override and the approach of a run that goes on from a row, without
// a window.
#include "motion/run_control.h"
#include "motion/run_stepper.h"

#include "gcode/reader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using motion::ApproachLeg;
using Pos = std::array<std::int64_t, 3>;
constexpr auto None = std::nullopt;

gcode::Program Read(const std::string& file) {
    return gcode::ReadGcode(file, {{"500", "1000"}, gcode::DefaultArcToleranceMm}, nullptr);
}

motion::RunSpeeds Speeds(int percent = 100) {
    motion::RunSpeeds speeds;
    speeds.travelSpeedText = "1000";
    speeds.cutSpeedText = "500";
    speeds.feedPercent = percent;
    speeds.Prepare();
    return speeds;
}

struct ApproachCase {
    const char* name;
    Pos from, to;
    std::int64_t highestZ, clearance;
    std::vector<ApproachLeg> legs;
};

TEST(Approach, ClimbsAboveEverythingCutCrossesThenFeedsDown) {
    const ApproachCase cases[] = {
        {"already there", {1000, 2000, -500}, {1000, 2000, -500}, 5000, 5000, {}},
        {"from the origin to a row in the work",
         {0, 0, 0},
         {20000, 5000, -2000},
         5000,
         5000,
         {{{None, None, 10000}, true}, {{20000, 5000, None}, true}, {{None, None, -2000}, false}}},
        {"only Y differs: up, across in Y alone, down",
         {1000, 0, -1000},
         {1000, 3000, -1000},
         0,
         2000,
         {{{None, None, 2000}, true}, {{None, 3000, None}, true}, {{None, None, -1000}, false}}},
        {"Z lifted by hand above the safe height stays there",
         {0, 0, 50000},
         {4000, 0, -1000},
         5000,
         5000,
         {{{4000, None, None}, true}, {{None, None, -1000}, false}}},
        {"a target above the safe height is a rapid away",
         {0, 0, 0},
         {0, 0, 30000},
         0,
         5000,
         {{{None, None, 5000}, true}, {{None, None, 30000}, true}}},
        {"no clearance, Z at the highest already: straight across and down",
         {0, 0, 5000},
         {1000, 1000, 0},
         5000,
         0,
         {{{1000, 1000, None}, true}, {{None, None, 0}, false}}},
        {"a negative clearance counts as none",
         {0, 0, 0},
         {1000, 0, 0},
         0,
         -3000,
         {{{1000, None, None}, true}}},
    };
    for (const ApproachCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(motion::ApproachLegs(c.from, c.to, c.highestZ, c.clearance), c.legs);
    }
    EXPECT_EQ(motion::ApproachText(0, cases[1].legs, "F100"),
              "Z up to 0010.000 at the travel speed\n"
              "Across to X 0020.000 Y 0005.000 at the travel speed\n"
              "Z down to -0002.000 at F100");
}

TEST(Approach, RowStartIsWhereTheRowsBeforeLeaveTheMachineAndTheHighestZOnTheWay) {
    // An arc in the XZ plane rises to Z 9 between its ends at Z -1.
    const gcode::Program program =
        Read("G0 X0 Y0 Z3\nG1 Z-1 F100\nG18 G3 X20 Z-1 I10 K0\nG1 X30\nG0 Z2\n");
    const motion::PreparedPlanSettings settings{motion::PlanSettings{}};
    struct Case {
        std::size_t row;
        Pos at;
        std::int64_t highestZ;
    } cases[] = {{0, {0, 0, 0}, 0},
                 {1, {0, 0, 3000}, 3000},
                 {3, {20000, 0, -1000}, 9000},
                 {5, {30000, 0, 2000}, 9000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        const motion::RowStart start =
            motion::PlanToRow(program, c.row, motion::MachineState{}, settings, Speeds());
        ASSERT_FALSE(start.error);
        EXPECT_EQ(motion::ShownThousandths(start.machine), std::optional<Pos>(c.at));
        EXPECT_GE(start.highestZ, c.highestZ);
        EXPECT_LE(start.highestZ, c.highestZ + 1000) << "the arc's top, within its tolerance";
    }
    const gcode::Program refused = Read("G1 X1 F100\nG1 X2 F0.5\nG1 X3 F100\n");
    const motion::RowStart start =
        motion::PlanToRow(refused, 3, motion::MachineState{}, settings, Speeds());
    ASSERT_TRUE(start.error);
    EXPECT_EQ(start.errorRow, 1u);
}

TEST(Notes, StopsPauseDwellsWaitAndOptionalStopsFollowTheirBox) {
    const gcode::Program program = Read("G1 X1 F100\nM0\nT2 M6 (6 mm end mill)\nG1 X2\nM1\n"
                                        "G4 P1.5\nG1 X3\nG4 P0\nG1 X4\nM0\n");
    using Kind = gcode::RowNote::Kind;
    using motion::NoteAction;
    struct Case {
        std::size_t row;
        std::vector<Kind> kinds;
        std::vector<NoteAction> withBox, withoutBox;
    } cases[] = {
        {0, {}, {}, {}},
        {1,
         {Kind::Stop, Kind::ToolChange},
         {NoteAction::Pause, NoteAction::Pause},
         {NoteAction::Pause, NoteAction::Pause}},
        {2,
         {Kind::OptionalStop, Kind::Dwell},
         {NoteAction::Pause, NoteAction::Dwell},
         {NoteAction::None, NoteAction::Dwell}},
        {3, {Kind::Dwell}, {NoteAction::None}, {NoteAction::None}},  // G4 P0 waits for nothing
        {4, {Kind::Stop}, {NoteAction::Pause}, {NoteAction::Pause}}, // after the last row
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        const auto notes = motion::NotesBefore(program, c.row);
        ASSERT_EQ(notes.size(), c.kinds.size());
        for (std::size_t i = 0; i < notes.size(); ++i) {
            EXPECT_EQ(notes[i].kind, c.kinds[i]);
            EXPECT_EQ(motion::ActionOf(notes[i], true), c.withBox[i]);
            EXPECT_EQ(motion::ActionOf(notes[i], false), c.withoutBox[i]);
        }
    }
    const auto toolChange = motion::NotesBefore(program, 1)[1];
    EXPECT_TRUE(motion::StopNoteText(toolChange)
                    .starts_with("Tool change at line 3: T2 M6 (6 mm end mill)\nChange the tool."))
        << motion::StopNoteText(toolChange);
    EXPECT_DOUBLE_EQ(motion::DwellSeconds(program), 1.5);
}

TEST(FeedOverride, ScalesFeedMovesOnlyAndSendsTheUsualBytesAt100) {
    // 1 mm at 100 mm/min: floor(57150 / 100) = 571. Rapids at F1000 keep 57.
    const gcode::Program program = Read("G1 X1 F100\nG0 X2\nG1 X3 F333.33\n");
    const motion::PreparedPlanSettings settings{motion::PlanSettings{}};
    struct Case {
        int percent;
        std::array<std::uint32_t, 3> periods;
    } cases[] = {
        {100, {571, 57, 171}}, {50, {1143, 57, 344}}, {200, {285, 57, 85}}, {10, {5715, 57, 1731}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percent);
        motion::MachineState machine;
        for (std::size_t row = 0; row < 3; ++row) {
            const motion::ProgramRowMove move =
                motion::PlanProgramRow(program, row, machine, settings.fields, Speeds(c.percent));
            ASSERT_FALSE(move.planned.error);
            EXPECT_EQ(move.planned.report.stepPeriod, c.periods[row]) << row;
            machine = move.planned.after;
        }
    }
    // With Override Gcode the cut speed is the one scaled.
    motion::RunSpeeds overridden = Speeds(50);
    overridden.overrideGcode = true;
    overridden.Prepare();
    const motion::ProgramRowMove move =
        motion::PlanProgramRow(program, 0, motion::MachineState{}, settings.fields, overridden);
    EXPECT_EQ(move.planned.report.stepPeriod, 57150u / 250u);
    EXPECT_EQ(motion::OverriddenSpeed("0500.000 ", 150), std::optional<std::int32_t>(750000));
    EXPECT_EQ(motion::OverriddenSpeed("fast", 150), std::nullopt);
}

TEST(Approach, TheStepperPlansTheLegsBeforeTheRowAtTheRowsFeed) {
    const gcode::Program program = Read("G0 X0 Y0 Z5\nG1 Z-1 F100\nG1 X10 F300\nG0 Z5\n");
    const motion::PreparedPlanSettings settings{motion::PlanSettings{}};
    motion::MachineState machine;
    gcode::PlotPen pen;
    motion::RunStepper run;
    run.Begin(&program, motion::RunMode::Live, machine, pen, false);
    run.StartAt(2);
    run.Approach(motion::ApproachLegs({0, 0, 0}, {0, 0, -1000}, 5000, 5000), {});
    std::vector<std::pair<bool, std::uint32_t>> moves; // approach?, step period
    while (run.HasNext()) {
        const motion::ProgramRowMove& move = run.PlanNext(settings, Speeds(50));
        ASSERT_FALSE(move.planned.error);
        moves.emplace_back(move.approach, move.planned.report.stepPeriod);
    }
    // Up and across are rapids at 1000 mm/min; down at row 2's F300 under the 50 % override.
    EXPECT_EQ(moves, (std::vector<std::pair<bool, std::uint32_t>>{
                         {true, 57}, {true, 381}, {false, 381}, {false, 57}}));
    EXPECT_EQ(motion::ShownThousandths(machine), std::optional<Pos>(Pos{10000, 0, 5000}));
}

} // namespace

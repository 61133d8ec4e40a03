#include "motion/planning.h"

#include "encoding/number_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

using namespace motion;

namespace {

std::vector<int> firstTwelve(const encoding::MotionReport& r) {
    return std::vector<int>(r.bytes().begin(), r.bytes().begin() + 12);
}

MachineState shownAt(const char* x, const char* y = "0000.000", const char* z = "0000.000") {
    MachineState s;
    const char* texts[] = {x, y, z};
    for (const Axis a : kAxes) {
        s[a].positionText = texts[index(a)];
        s[a].positionMm = *encoding::NumberOf(texts[index(a)]);
    }
    return s;
}

MoveRequest request(std::optional<std::string_view> x, std::optional<std::string_view> y,
                    std::optional<std::string_view> z, std::string_view speed = "1000.000",
                    bool rapid = true) {
    return MoveRequest{{x, y, z}, speed, rapid};
}

} // namespace

TEST(PlanMove, BuildsTheGotoExample) {
    const PlannedMove m = PlanMove(MachineState{}, PlanSettings{}, request("10", "5", "0"));
    ASSERT_FALSE(m.error);
    ASSERT_EQ(m.report.reportCount, 1U);
    const encoding::MotionReport r = *m.report.Report(0);
    EXPECT_EQ(firstTwelve(r), (std::vector<int>{0, 11, 0, 20, 213, 0, 10, 106, 0, 0, 0, 57}));
    EXPECT_EQ(r.Packet(), "1102021301010600057");
    EXPECT_EQ(m.echoes[0]->distanceText, "0010.000");
    EXPECT_EQ(m.echoes[1]->distanceText, "0005.000");
    EXPECT_EQ(m.echoes[2]->distanceText, "0000.000");
    EXPECT_FALSE(m.echoes[2]->moved);
    EXPECT_EQ(m.report.StepsText(Axis::X), "5333");
    EXPECT_EQ(m.report.StepsText(Axis::Y), "2666");
    EXPECT_EQ(m.report.StepsText(Axis::Z), "0");
    EXPECT_EQ(m.report.XBinaryText(), "000000000001010011010101");
    EXPECT_EQ(m.after[Axis::X].positionText, "0010.000");
    EXPECT_EQ(m.after[Axis::Y].positionMm, 5.0);
    EXPECT_FALSE(m.report.SplitNotice());
}

TEST(PlanMove, StepByStepGivesTheSameMoveAsOneCall) {
    PlanSettings settings;
    settings.inverse = {false, true, true};
    const MachineState start = shownAt("-0010.000", "0003.000", "0001.500");
    const PlannedMove whole = PlanMove(start, settings, request("-5", "-2", "0001.500", "500"));
    MachineState planned = start;
    std::array<std::string, 3> distances;
    const char* targets[] = {"-5", "-2", "0001.500"};
    for (const Axis a : kAxes) {
        AxisMove m = PlanAxisMove(start[a], a, std::string_view(targets[index(a)]));
        distances[index(a)] = m.echo.distanceText;
        planned[a] = m.after;
    }
    const MoveReport r =
        BuildMoveReport(planned, {distances[0], distances[1], distances[2]}, settings, "500", true);
    EXPECT_EQ(*r.Report(0), *whole.report.Report(0));
    EXPECT_EQ(firstTwelve(*r.Report(0)),
              (std::vector<int>{0, 8 + 4 + 2 + 1, 0, 10, 106, 0, 10, 106, 0, 0, 0, 114}));
}

TEST(PlanAxisMove, ComparesPositionsAsNumbers) {
    struct Case {
        const char* shown;
        const char* target;
        const char* distance;
        bool xBit;
        const char* display;
    };
    for (const Case c : {
             Case{"-0010.000", "-5", "0005.000", true, "-0005.000"},   // both negative, up
             {"-0003.000", "-10", "0007.000", false, "-0010.000"},     // both negative, down
             {"0003.000", "-2", "0005.000", false, "-0002.000"},       // mixed signs
             {"-0002.500", "1.25", "0003.750", true, "0001.250"},      // mixed signs
             {"9000.000", "12000", "3000.000", true, "12000.000"},     // text order would invert
             {"-9000.000", "-12000", "3000.000", false, "-12000.000"}, // both negative, wide
             {"12345.600", "12345.6", "0000.000", true, "12345.600"},  // no move keeps the bit
         }) {
        AxisState x;
        x.positionText = c.shown;
        x.positionMm = *encoding::NumberOf(c.shown);
        x.direction = true;
        const AxisMove m = PlanAxisMove(x, Axis::X, std::string_view(c.target));
        ASSERT_FALSE(m.error) << c.shown << " -> " << c.target;
        EXPECT_EQ(m.echo.distanceText, c.distance) << c.shown << " -> " << c.target;
        EXPECT_EQ(m.after.direction, c.xBit) << c.shown << " -> " << c.target;
        EXPECT_EQ(m.after.positionText, c.display) << c.shown << " -> " << c.target;
    }
}

TEST(PlanAxisMove, ShortcutsGiveWhatTheDoubleArithmeticGives) {
    // As written: D = Format(number(T) - number(P)), position +/- number(D), display Format.
    std::mt19937_64 random(533333);
    for (int i = 0; i < 200000; ++i) {
        const double scale = std::pow(10.0, i % 15 - 3);
        std::uniform_real_distribution<double> value(-scale, scale);
        AxisState x;
        // The tracked number is the shown one, or has drifted from it a little or a lot.
        x.positionText = encoding::Format(value(random));
        const double drift = i % 3 == 0 ? value(random) : i % 3 == 1 ? value(random) * 1e-9 : 0.0;
        x.positionMm = *encoding::NumberOf(x.positionText) + drift;
        const double to = value(random);
        const std::string target =
            i % 2 == 0 ? encoding::Format(to) : encoding::FormatSignificant(to, 1 + i % 15);
        const AxisMove m = PlanAxisMove(x, Axis::X, std::string_view(target));
        const double t = *encoding::NumberOf(encoding::Format(target));
        const double p = *encoding::NumberOf(x.positionText);
        const std::string d = encoding::Format(t > p ? t - p : p - t);
        const double position = x.positionMm + (t > p ? 1 : -1) * *encoding::NumberOf(d);
        ASSERT_FALSE(m.error) << target;
        if (t == p) {
            ASSERT_FALSE(m.echo.moved);
            continue;
        }
        ASSERT_EQ(m.echo.distanceText, d) << x.positionText << " -> " << target;
        ASSERT_EQ(m.after.positionMm, position) << x.positionText << " -> " << target;
        ASSERT_EQ(m.after.positionText, encoding::Format(position));
    }
}

TEST(PlanAxisMove, ReadsTheShownTextNotTheTrackedNumber) {
    AxisState x;
    x.positionText = "0010.000";
    x.positionMm = 9.9;
    const AxisMove m = PlanAxisMove(x, Axis::X, 12.3456);
    EXPECT_EQ(m.echo.distanceText, "0002.346"); // from 10.000 to the formatted target 12.346
    EXPECT_DOUBLE_EQ(m.after.positionMm, 9.9 + 2.346);
}

TEST(PlanMove, ZCountsDownwardsAndInverseFlipsOnlyTheSentBit) {
    for (const bool inverseZ : {false, true}) {
        PlanSettings settings;
        settings.inverse[2] = inverseZ;
        const PlannedMove up = PlanMove(MachineState{}, settings, request({}, {}, "2"));
        EXPECT_FALSE(up.echoes[2]->direction); // echo before inversion
        EXPECT_EQ(up.report.Report(0)->flagByte() & 4, inverseZ ? 4 : 0);
        MachineState atTwo = shownAt("0000.000", "0000.000", "0002.000");
        const PlannedMove down = PlanMove(atTwo, settings, request({}, {}, "0"));
        EXPECT_TRUE(down.echoes[2]->direction);
        EXPECT_EQ(down.report.Report(0)->flagByte() & 4, inverseZ ? 0 : 4);
    }
}

TEST(PlanMove, UnmovedAxesKeepTheirStoredBitWhichIsInvertedAgain) {
    PlanSettings settings;
    settings.inverse[0] = true;
    // GOTO clears the bits; an X that does not move is then sent as 1.
    PlannedMove m = PlanMove(MachineState{}, settings, request("0", "5", {}));
    EXPECT_EQ(m.report.Report(0)->flagByte() & 3, 3);
    EXPECT_TRUE(m.after[Axis::X].direction);
    // Without a clear in between, the stored (inverted) bit is inverted once more.
    m = PlanMove(m.after, settings, request({}, "6", {}));
    EXPECT_EQ(m.report.Report(0)->flagByte() & 3, 2);
}

TEST(PlanMove, SettingsShapeFlagsPeriodAndCounts) {
    struct Case {
        const char* pulses;
        const char* pwDelay;
        bool limitsDisabled;
        const char* speed;
        const char* xTarget;
        const char* xSteps;
        unsigned period;
        int flag;
    };
    for (const Case c : {
             Case{"533.333", "57150", true, "1000", "10", "5333", 57, 16 + 8 + 1},
             {"533.333", "57150", false, "0500.000 ", "10", "5333", 114, 8 + 1},
             {"533.333", "500", false, "1000", "3", "1599", 0, 8 + 1}, // 1599.999 rounds down
             {"533.333", "-500", false, "1000", "10", "5333", 0, 8 + 1},
             {"-533.333", "57150", false, "1000", "10", "5334", 57, 8 + 1}, // only "-" dropped
             {"abc", "57150", false, "1000", "10", "0", 57, 8 + 1},
             {"533.333", "65535", false, "1.9", "10", "5333", 65535, 8 + 1},
         }) {
        PlanSettings settings;
        settings.pulsesPerMmText = c.pulses;
        settings.pwDelayText = c.pwDelay;
        settings.limitsDisabled = c.limitsDisabled;
        const PlannedMove m =
            PlanMove(MachineState{}, settings, request(c.xTarget, {}, {}, c.speed));
        ASSERT_FALSE(m.error) << c.pulses << " " << c.pwDelay << " " << c.speed;
        EXPECT_EQ(m.report.StepsText(Axis::X), c.xSteps) << c.pulses;
        EXPECT_EQ(m.report.Report(0)->fields().stepPeriod, c.period) << c.pwDelay << " " << c.speed;
        EXPECT_EQ(m.report.Report(0)->flagByte(), c.flag) << c.limitsDisabled;
    }
}

TEST(PlanMove, SplitsCountsWiderThanTheirFieldIntoExactParts) {
    const PlannedMove m = PlanMove(MachineState{}, PlanSettings{}, request("3", {}, "-130", "500"));
    ASSERT_FALSE(m.error);
    EXPECT_EQ(m.report.steps[2], 69333U);
    ASSERT_EQ(m.report.reportCount, 2U);
    const encoding::MotionFields a = m.report.Report(0)->fields();
    const encoding::MotionFields b = m.report.Report(1)->fields();
    EXPECT_EQ(a.zSteps, 34666U);
    EXPECT_EQ(b.zSteps, 34667U);
    EXPECT_EQ(a.xSteps + b.xSteps, 1599U);
    EXPECT_EQ(m.report.XBinaryText(), "000000000000001100011111"); // 799, the first part
    EXPECT_EQ(a.stepPeriod, 114U);
    EXPECT_EQ(m.report.Report(0)->flagByte(), m.report.Report(1)->flagByte());
    EXPECT_FALSE(m.report.Report(2));
    EXPECT_NE(m.report.SplitNotice()->find("69333"), std::string::npos);

    for (const std::uint64_t count : {65536ULL, 131071ULL, 16777216ULL, 1000000007ULL}) {
        MoveReport r;
        r.steps = {count * 300, count, count};
        r.reportCount = (count * 300 + encoding::kMaxXYSteps - 1) / encoding::kMaxXYSteps;
        r.reportCount = std::max(r.reportCount, (count + 65534) / 65535);
        std::array<std::uint64_t, 3> sums{};
        for (std::uint64_t k = 0; k < r.reportCount; ++k) {
            const std::optional<encoding::MotionReport> part = r.Report(k);
            ASSERT_TRUE(part) << count << " part " << k; // every part fits its fields
            sums[0] += part->fields().xSteps;
            sums[1] += part->fields().ySteps;
            sums[2] += part->fields().zSteps;
        }
        EXPECT_EQ(sums, r.steps) << count;
    }
}

TEST(PlanMove, RefusesWhatCannotBeTimedAfterAdvancingThePositions) {
    struct Case {
        const char* speed;
        const char* pwDelay;
        PlanError::Kind kind;
        const char* quoted;
    };
    for (const Case c : {
             Case{"abc", "57150", PlanError::Kind::SpeedNotANumber, "abc"},
             {"0.99", "57150", PlanError::Kind::SpeedBelowOne, "0.99"},
             {"-10", "57150", PlanError::Kind::SpeedBelowOne, "-10"},
             {"1000", "57x50", PlanError::Kind::PwDelayNotANumber, "57x50"},
             {"1", "65536", PlanError::Kind::StepPeriodTooLong, "65536"},
         }) {
        PlanSettings settings;
        settings.pwDelayText = c.pwDelay;
        settings.inverse = {true, true, true};
        const PlannedMove m = PlanMove(MachineState{}, settings, request("10", {}, {}, c.speed));
        ASSERT_TRUE(m.error) << c.speed << " " << c.pwDelay;
        EXPECT_EQ(m.error->kind, c.kind);
        EXPECT_NE(m.error->message.find(c.quoted), std::string::npos) << m.error->message;
        EXPECT_FALSE(m.report.Report(0));
        EXPECT_EQ(m.after[Axis::X].positionText, "0010.000");
        EXPECT_TRUE(m.after[Axis::X].direction); // not inverted: no report was built
    }
}

TEST(PlanMove, RefusesATargetThatIsNotANumberBeforeAnyAxisMoves) {
    const PlannedMove m = PlanMove(MachineState{}, PlanSettings{}, request("10", "abc", {}));
    ASSERT_TRUE(m.error);
    EXPECT_EQ(m.error->kind, PlanError::Kind::TargetNotANumber);
    EXPECT_EQ(m.error->message, "The Y target \"abc\" is not a number.");
    EXPECT_EQ(m.after[Axis::X].positionText, "0000.000");

    PlanSettings huge;
    huge.pulsesPerMmText = "1e300";
    EXPECT_EQ(PlanMove(MachineState{}, huge, request("1", {}, {})).error->kind,
              PlanError::Kind::TooManySteps);
}

#include "motion/planning.h"

#include "encoding/number_text.h"
#include "encoding/thousandths.h"

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
    const MoveReport r = BuildMoveReport(start, planned, {distances[0], distances[1], distances[2]},
                                         settings, "500", true);
    EXPECT_EQ(*r.Report(0), *whole.report.Report(0));
    // X from S(-10) = -5333 to S(-5) = -2666, Y from S(3) = 1599 to S(-2) = -1066.
    EXPECT_EQ(firstTwelve(*r.Report(0)),
              (std::vector<int>{0, 8 + 4 + 2 + 1, 0, 10, 107, 0, 10, 105, 0, 0, 0, 114}));
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
        // The tracked number is the arithmetic's, or, where that lands within 0.0004 of the
        // target, the target's own number: no drift is carried on to the next move.
        ASSERT_TRUE(m.after.positionMm == position ||
                    (m.after.positionMm == t && std::fabs(position - t) < 0.0004))
            << x.positionText << " -> " << target;
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

TEST(PlanMove, RefusesAMoveOfMoreThan65536ReportsInTheOperatorsWords) {
    // At 1 pulse per mm a report carries 65,535 mm of Z and 16,777,215 mm of X or Y.
    PlanSettings one;
    one.pulsesPerMmText = "1";
    struct Case {
        const char* x;
        const char* z;
        std::uint64_t reports; // 0: refused
    };
    for (const Case c : {Case{"0", "4294901760", 65536},
                         {"0", "4294901761", 0},
                         {"1099511562240", "0", 65536},
                         {"1099511562241", "0", 0}}) {
        const PlannedMove m = PlanMove(MachineState{}, one, request(c.x, {}, c.z));
        if (c.reports != 0) {
            ASSERT_FALSE(m.error) << c.x << " " << c.z;
            EXPECT_EQ(m.report.reportCount, c.reports);
            continue;
        }
        ASSERT_TRUE(m.error) << c.x << " " << c.z;
        EXPECT_EQ(m.error->kind, PlanError::Kind::TooManyReports);
        EXPECT_FALSE(m.report.Report(0));
    }
    const PlannedMove typo = PlanMove(MachineState{}, PlanSettings{}, request({}, {}, "1e13"));
    ASSERT_TRUE(typo.error);
    EXPECT_EQ(typo.error->message,
              "The Z move of 10000000000000.000 mm at 533.333 pulses per mm needs "
              "5333330000000000 steps, 81381399253 reports of at most 65535 steps each; a move "
              "is sent as at most 65536 reports. Check the target, or split the move into "
              "shorter ones.");
    EXPECT_EQ(typo.after[Axis::Z].positionText, "10000000000000.000"); // as the displays show
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

namespace {

void expectSameMove(const PlannedMove& a, const PlannedMove& b, const std::string& what) {
    ASSERT_EQ(a.error.has_value(), b.error.has_value()) << what;
    if (a.error) {
        EXPECT_EQ(a.error->kind, b.error->kind) << what;
        EXPECT_EQ(a.error->message, b.error->message) << what;
    }
    for (const Axis ax : kAxes) {
        EXPECT_EQ(a.after[ax].positionText, b.after[ax].positionText) << what;
        EXPECT_EQ(a.after[ax].positionMm, b.after[ax].positionMm) << what;
        EXPECT_EQ(a.after[ax].direction, b.after[ax].direction) << what;
        const auto& ea = a.echoes[index(ax)];
        const auto& eb = b.echoes[index(ax)];
        ASSERT_EQ(ea.has_value(), eb.has_value()) << what;
        if (ea) {
            EXPECT_EQ(ea->distanceText, eb->distanceText) << what;
            EXPECT_EQ(ea->distanceMm, eb->distanceMm) << what;
            EXPECT_EQ(ea->moved, eb->moved) << what;
            EXPECT_EQ(ea->direction, eb->direction) << what;
        }
    }
    EXPECT_EQ(a.report.steps, b.report.steps) << what;
    EXPECT_EQ(a.report.stepPeriod, b.report.stepPeriod) << what;
    EXPECT_EQ(a.report.directions, b.report.directions) << what;
    EXPECT_EQ(a.report.reportCount, b.report.reportCount) << what;
    EXPECT_EQ(a.report.Report(0), b.report.Report(0)) << what;
}

} // namespace

TEST(PlanMove, TargetsAndSpeedGivenAsThousandthsPlanAsTheirTexts) {
    // Shown positions on both sides of every target, and targets from zero to the ends of the
    // 32-bit cell range, five-digit and negative ones included.
    const std::vector<std::int32_t> targets = {0,        1,          -1,         999,
                                               10000,    -2500,      9999999,    -9999999,
                                               12345678, 2000000000, 2147483647, -2147483647 - 1};
    const char* shown[] = {"0000.000", "-0010.000", "0003.000", "12000.000", "-2147483.648"};
    const std::vector<std::int32_t> speeds = {1000000, 500000, 1000, 999, 1999, -10000, 0};
    PlanSettings settings;
    settings.inverse = {false, true, false};
    int n = 0;
    for (const std::int32_t t : targets) {
        for (const char* p : shown) {
            const std::int32_t speed = speeds[static_cast<std::size_t>(n++) % speeds.size()];
            const std::string targetText = encoding::FormatThousandths(t);
            const std::string speedText = encoding::FormatThousandths(speed) + " ";
            MachineState start = shownAt(p, "0001.000", p);
            start[Axis::Y].direction = true;
            MoveRequest byText = request(targetText, {}, targetText, speedText, false);
            MoveRequest byNumber = request({}, {}, {}, speedText, false);
            byNumber.targetThousandths = {t, std::nullopt, t};
            byNumber.speedThousandths = speed;
            const std::string what = std::string(p) + " -> " + targetText + " at " + speedText;
            expectSameMove(PlanMove(start, settings, byNumber), PlanMove(start, settings, byText),
                           what);
            // The same through settings prepared once, which remember the last speed.
            const PreparedPlanSettings prepared(settings);
            for (int again = 0; again < 2; ++again) {
                PlannedMove reused;
                PlanMove(start, prepared, byNumber, reused);
                expectSameMove(reused, PlanMove(start, settings, byText), what + " (prepared)");
            }
        }
    }
}

TEST(PlanMove, RefusalsOfNumberRequestsQuoteTheTextsOfTheNumbers) {
    MoveRequest r = request({}, {}, {}, {});
    r.targetThousandths[0] = 10000;
    r.speedThousandths = 500; // 0.5 mm/min, no text given
    PlannedMove m = PlanMove(MachineState{}, PlanSettings{}, r);
    ASSERT_TRUE(m.error);
    EXPECT_EQ(m.error->message, "Speed must be at least 1 mm/min: \"0000.500\".");
    r.speedText = "0000.500 ";
    m = PlanMove(MachineState{}, PlanSettings{}, r);
    EXPECT_EQ(m.error->message, "Speed must be at least 1 mm/min: \"0000.500 \".");

    // A tracked position that is no longer finite cannot be moved from.
    MachineState lost;
    lost[Axis::X].positionMm = HUGE_VAL;
    r.speedThousandths = 1000000;
    m = PlanMove(lost, PlanSettings{}, r);
    ASSERT_TRUE(m.error);
    EXPECT_EQ(m.error->message, "The X move from 0000.000 to \"0010.000\" is too long to plan.");
    expectSameMove(m, PlanMove(lost, PlanSettings{}, request("0010.000", {}, {})), "lost");

    // Settings that refuse every move do so on every line, remembered speed or not.
    PlanSettings bad;
    bad.pwDelayText = "57x50";
    const PreparedPlanSettings prepared(bad);
    for (int line = 0; line < 2; ++line) {
        PlannedMove out;
        PlanMove(MachineState{}, prepared, r, out);
        ASSERT_TRUE(out.error);
        EXPECT_EQ(out.error->kind, PlanError::Kind::PwDelayNotANumber);
    }
}

TEST(PlanMove, AResultReusedFromLineToLineHoldsNothingOfTheLineBefore) {
    const PreparedPlanSettings prepared{PlanSettings{}};
    PlannedMove out;
    // A three-axis split move, then a refused target, then a Y-only move.
    PlanMove(MachineState{}, prepared, request("40000", "-3", "-130", "500"), out);
    ASSERT_FALSE(out.error);
    ASSERT_EQ(out.report.reportCount, 2u);
    PlanMove(MachineState{}, prepared, request("1", "abc", {}), out);
    expectSameMove(out, PlanMove(MachineState{}, PlanSettings{}, request("1", "abc", {})), "abc");
    PlanMove(MachineState{}, prepared, request({}, "2", {}, "2000"), out);
    expectSameMove(out, PlanMove(MachineState{}, PlanSettings{}, request({}, "2", {}, "2000")),
                   "y");
    EXPECT_FALSE(out.echoes[0]);
}

namespace {

// The rule as first written, with 128-bit products.
#if defined(__SIZEOF_INT128__)
std::uint64_t splitPartWide(std::uint64_t c, std::uint64_t k, std::uint64_t n) {
    __extension__ using Wide = unsigned __int128;
    return static_cast<std::uint64_t>(Wide{c} * (k + 1) / n - Wide{c} * k / n);
}
#endif

} // namespace

TEST(SplitPart, PartsAreExactForEveryCountAndNumberOfReports) {
    constexpr std::uint64_t Max = ~std::uint64_t{0};
    const std::uint64_t counts[] = {
        0,          1,  65535, 69333, 16777216, (1ULL << 53) - 1, 1ULL << 53, (1ULL << 53) + 1,
        1ULL << 63, Max};
    const std::uint64_t splits[] = {1,
                                    2,
                                    3,
                                    7,
                                    65535,
                                    (1ULL << 32) - 1,
                                    1ULL << 32,
                                    (1ULL << 32) + 1,
                                    (1ULL << 40) + 7,
                                    1ULL << 53,
                                    (1ULL << 63) + 5,
                                    Max};
    for (const std::uint64_t c : counts) {
        for (const std::uint64_t n : splits) {
            const std::uint64_t low = c / n;
            for (const std::uint64_t k :
                 {std::uint64_t{0}, std::uint64_t{1}, n / 3, n / 2, n - 2, n - 1}) {
                if (k >= n) {
                    continue;
                }
                const std::uint64_t part = SplitPart(c, k, n);
                ASSERT_TRUE(part == low || part == low + 1) << c << " / " << n << " part " << k;
#if defined(__SIZEOF_INT128__)
                ASSERT_EQ(part, splitPartWide(c, k, n)) << c << " / " << n << " part " << k;
#endif
            }
            if (n <= 65535) {
                std::uint64_t sum = 0;
                for (std::uint64_t k = 0; k < n; ++k) {
                    sum += SplitPart(c, k, n);
                }
                EXPECT_EQ(sum, c) << c << " / " << n;
            }
        }
    }
    EXPECT_EQ(SplitPart(69333, 0, 2), 34666u);
    EXPECT_EQ(SplitPart(69333, 1, 2), 34667u);
    EXPECT_EQ(SplitPart(5, 2, 2), 0u); // no part beyond the last
}

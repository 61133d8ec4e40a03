#include "motion/goto_move.h"
#include "motion/planning.h"
#include "motion/step_position.h"

#include "encoding/thousandths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace motion;

namespace {

struct StepsCase {
    const char* pulses;
    std::int64_t thousandths;
    std::optional<std::int64_t> steps; // none: beyond counting
};

// The bits as sent give the way each axis went: X and Y move positive with the bit set, Z with
// it clear (nothing is inverted here).
std::array<std::int64_t, 3> signedCounts(const encoding::MotionFields& f) {
    return {f.xDirection ? std::int64_t{f.xSteps} : -std::int64_t{f.xSteps},
            f.yDirection ? std::int64_t{f.ySteps} : -std::int64_t{f.ySteps},
            f.zDirection ? -std::int64_t{f.zSteps} : std::int64_t{f.zSteps}};
}

std::int64_t shownThousandths(const AxisState& axis) {
    std::int64_t t = 0;
    EXPECT_TRUE(encoding::ThousandthsOfShownPosition(axis.positionText, t)) << axis.positionText;
    return t;
}

// Adds what every report of a move sends to `sent`.
void addSent(const MoveReport& report, std::array<std::int64_t, 3>& sent) {
    for (std::uint64_t part = 0; part < report.reportCount; ++part) {
        const std::array<std::int64_t, 3> counts = signedCounts(report.Report(part)->fields());
        for (std::size_t a = 0; a < 3; ++a) {
            sent[a] += counts[a];
        }
    }
}

} // namespace

TEST(StepPosition, IsPulsesPerMmTimesTheShownPositionRoundedTowardZeroExactly) {
    for (const StepsCase c : {
             StepsCase{"533.33", 100, 53},
             {"533.33", 300, 159}, // 159.999
             {"533.33", -300, -159},
             {"533.333", 3000, 1599}, // 1599.999
             {"0.57", 100000, 57},    // 56.999999999999993 in doubles
             {"3200", 333, 1065},     // 1065.6
             {"3200", -333, -1065},
             {"9", 100, 0},
             {"9", 300, 2},
             {" +5.3333e2 mm", 10000, 5333}, // as Val reads it
             {"533.330000000000000000000000000", 10000, 5333},
             {"0.3333333333333333333333334", 3000, 1}, // 1.0000000000000000000000002
             {"0.3333333333333333333333333", 3000, 0}, // 0.9999999999999999999999999
             {"-533.333", 10000, 5334},                // a negative setting rounds up: -5333.33
             {"-533.333", -10000, -5334},
             {"abc", 5000, 0},
             {"1e-400", 1000, 0},
             {"1e300", 0, 0},
             {"1e300", 1, std::nullopt},
             {"533.33", 1'000'000'000'000'000'000, 533'330'000'000'000'000},
             {"533.33", 1'000'000'000'000'000'001, std::nullopt},
             {"9000000", 1'000'000'000'000'000, std::nullopt}, // 9e18 steps
             {"0", 1'000'000'000'000'000'001, 0},
         }) {
        EXPECT_EQ(PulsesPerMm(c.pulses).StepsAt(c.thousandths), c.steps)
            << c.pulses << " at " << c.thousandths;
    }
}

#if defined(__SIZEOF_INT128__)
TEST(StepPosition, AgreesWithWideProductsForAnyDecimalAndPosition) {
    __extension__ using Wide = __int128;
    std::mt19937_64 random(16);
    for (int i = 0; i < 200000; ++i) {
        // Up to 13 significant digits and 9 decimals, positions up to 10^12 mm either way.
        const auto mantissa = static_cast<std::int64_t>(random() % 10'000'000'000'000ULL);
        const int decimals = static_cast<int>(random() % 10);
        // The digits with leading zeros enough for the point, then the point put in.
        char digits[40];
        const int n = std::snprintf(digits, sizeof digits, "%0*lld", decimals + 1,
                                    static_cast<long long>(mantissa));
        std::string text(digits, static_cast<std::size_t>(n - decimals));
        if (decimals > 0) {
            text.push_back('.');
            text.append(digits + n - decimals, static_cast<std::size_t>(decimals));
        }
        const std::int64_t t =
            static_cast<std::int64_t>(random() % 2'000'000'000'000'000ULL) - 1'000'000'000'000'000;
        Wide scale = 1000;
        for (int d = 0; d < decimals; ++d) {
            scale *= 10;
        }
        const Wide product = Wide{mantissa} * t / scale; // / truncates toward zero
        const std::optional<std::int64_t> steps = PulsesPerMm(text).StepsAt(t);
        if (product > kMaxStepPosition || product < -kMaxStepPosition) {
            EXPECT_FALSE(steps) << text << " at " << t;
        } else {
            EXPECT_EQ(steps, static_cast<std::int64_t>(product)) << text << " at " << t;
        }
    }
}
#endif

TEST(StepPosition, PositionAfterStepsIsTheFirstPlaceTheStepsAreTravelled) {
    for (const char* pulses : {"533.33", "3200", "9", "0.57"}) {
        const PulsesPerMm p(pulses);
        for (const auto& [from, to] : std::vector<std::pair<std::int64_t, std::int64_t>>{
                 {0, 40959}, {-1234, 5678}, {5678, -1234}, {100, 100}}) {
            const std::uint64_t whole = *p.StepsBetween(from, to);
            for (std::uint64_t steps = 0; steps <= whole; steps += 1 + whole / 17) {
                const std::int64_t at = p.PositionAfterSteps(from, to, steps);
                EXPECT_GE(*p.StepsBetween(from, at), steps) << pulses << " " << from << " " << to;
                if (at != from) {
                    const std::int64_t before = at + (to > from ? -1 : 1);
                    EXPECT_LT(*p.StepsBetween(from, before), steps) << pulses << " " << at;
                }
            }
        }
    }
}

// A long program of short moves, every axis, both ways, across zero, split moves among them:
// what the reports send adds up, after every move, to the step position of the displays.
TEST(StepPosition, CountsOfAnyRunOfMovesAddUpToWhereTheDisplaysStand) {
    for (const char* pulses : {"533.33", "3200", "9", "0.57", "-533.333"}) {
        PlanSettings settings;
        settings.pulsesPerMmText = pulses;
        const PulsesPerMm p(pulses);
        const PreparedPlanSettings prepared(settings);
        std::mt19937 random(2026);
        std::uniform_int_distribution<int> shortMove(-1500, 1500); // thousandths
        MachineState machine;
        std::array<std::int64_t, 3> sent{};
        std::array<std::int64_t, 3> target{};
        for (int move = 0; move < 20000; ++move) {
            MoveRequest request;
            request.speedText = "500";
            for (const Axis a : kAxes) {
                // Now and then a Z move long enough to be split.
                target[index(a)] += move % 997 == 0 && a == Axis::Z
                                        ? (move % 2 == 0 ? 130'959 : -130'959)
                                        : shortMove(random);
                request.targetThousandths[index(a)] = static_cast<std::int32_t>(target[index(a)]);
            }
            const PlannedMove planned = move % 3 == 0 ? PlanMove(machine, settings, request)
                                                      : PlanMove(machine, prepared, request);
            ASSERT_FALSE(planned.error) << pulses << " move " << move;
            addSent(planned.report, sent);
            machine = planned.after;
            for (const Axis a : kAxes) {
                ASSERT_EQ(sent[index(a)], *p.StepsAt(shownThousandths(machine[a])))
                    << pulses << " move " << move << " axis " << letter(a);
            }
        }
    }
}

TEST(StepPosition, AFirstMoveFromZeroCountsWhatItAlwaysCountedEitherWay) {
    struct Case {
        const char* pulses;
        const char* target;
        std::uint64_t steps; // floor(pulses x distance), in exact decimals
    };
    for (const Case c : {Case{"533.33", "10", 5333},
                         {"533.333", "3", 1599},
                         {"0.57", "100", 57},
                         {"3200", "0.333", 1065},
                         {"9", "0.1", 0},
                         {"-533.333", "10", 5334}}) {
        for (const bool negative : {false, true}) {
            PlanSettings settings;
            settings.pulsesPerMmText = c.pulses;
            std::string target(negative ? 1 : 0, '-');
            target.append(c.target);
            const PlannedMove m =
                PlanMove(MachineState{}, settings, MoveRequest{{target, {}, {}}, "1000", true});
            ASSERT_FALSE(m.error) << c.pulses << " " << target;
            EXPECT_EQ(m.report.steps[0], c.steps) << c.pulses << " " << target;
        }
    }
}

// Each part of a split move is a move from one shown position to another: its count is the
// difference of their step positions, and a display set where a part ends is where it left the
// machine. Up to 1000 pulses per mm the parts are the even split of the whole count.
TEST(StepPosition, PartsOfASplitMoveEndAtShownPositionsAndFitTheirFields) {
    struct Case {
        const char* pulses;
        std::int64_t from; // thousandths
        const char* to;
        std::uint64_t steps;
        std::uint64_t reports;
    };
    for (const Case c : {Case{"533.33", 0, "-130", 69332, 2},
                         {"533.33", 2, "-130", 69333, 2}, // from 1.06666 to -69332.9
                         {"3200", 0, "30.001", 96003, 2},
                         // Half of 131068 falls inside a thousandth: one report more.
                         {"3200", 0, "40.959", 131068, 3},
                         {"3200", -7500, "150", 504000, 8}}) {
        PlanSettings settings;
        settings.pulsesPerMmText = c.pulses;
        const PulsesPerMm p(c.pulses);
        MachineState start;
        start[Axis::Z].positionText = encoding::FormatThousandths(c.from);
        start[Axis::Z].positionMm = static_cast<double>(c.from) / 1000.0;
        MoveRequest request;
        request.targets[2] = c.to;
        request.speedText = "500";
        const PlannedMove m = PlanMove(start, settings, request);
        ASSERT_FALSE(m.error) << c.pulses << " " << c.to;
        const MoveReport& r = m.report;
        EXPECT_EQ(r.steps[2], c.steps) << c.pulses << " " << c.to;
        ASSERT_EQ(r.reportCount, c.reports) << c.pulses << " " << c.to;
        const std::int64_t from = shownThousandths(start[Axis::Z]);
        std::uint64_t travelled = 0;
        for (std::uint64_t part = 0; part < r.reportCount; ++part) {
            const std::uint32_t count = r.Report(part)->fields().zSteps;
            EXPECT_LE(count, encoding::kMaxZSteps);
            travelled += count;
            if (part + 1 < r.reportCount) {
                const std::int64_t end = *(*r.ShownAfterPart(part))[2];
                EXPECT_FALSE((*r.ShownAfterPart(part))[0]); // X stays where it is
                EXPECT_EQ(*p.StepsBetween(from, end), travelled) << c.to << " part " << part;
                if (std::string(c.pulses) == "533.33") {
                    EXPECT_EQ(count, SplitPart(c.steps, part, c.reports));
                }
            }
        }
        EXPECT_EQ(travelled, c.steps);
        EXPECT_FALSE(r.ShownAfterPart(r.reportCount - 1)); // the last part ends at the target
    }

    // More steps in one thousandth than a report holds: no part can end on a shown position,
    // and the parts are the even split of the count.
    PlanSettings dense;
    dense.pulsesPerMmText = "70000000";
    MoveRequest request;
    request.targets[2] = "0.002";
    request.speedText = "500";
    const PlannedMove m = PlanMove(MachineState{}, dense, request);
    ASSERT_FALSE(m.error);
    ASSERT_EQ(m.report.reportCount, 3u);
    EXPECT_FALSE((*m.report.ShownAfterPart(0))[2]); // the part ends inside a thousandth
    EXPECT_EQ(m.report.Report(0)->fields().zSteps + m.report.Report(1)->fields().zSteps +
                  m.report.Report(2)->fields().zSteps,
              140000u);
}

TEST(StepPosition, GotoCountsFollowTheDisplaysToo) {
    PlanSettings settings;
    settings.pulsesPerMmText = "533.33";
    const PulsesPerMm p("533.33");
    MachineState machine;
    std::array<std::int64_t, 3> sent{};
    for (const char* x : {"0.1", "0.3", "-0.25", "12.3456", "-7.777", "0"}) {
        const std::string entry = NormaliseGotoEntry(x);
        const PlannedMove m = PlanGoto(machine, settings, {entry, entry, "0000.050"}, "1000");
        ASSERT_FALSE(m.error) << x;
        addSent(m.report, sent);
        machine = m.after;
        for (const Axis a : kAxes) {
            EXPECT_EQ(sent[index(a)], *p.StepsAt(shownThousandths(machine[a]))) << x;
        }
    }
}

// Each state remembers the step position its move worked out; the next move uses it only where
// it was worked out at the same display and the same setting.
TEST(StepPosition, ARememberedStepPositionCountsOnlyWhereItWasWorkedOut) {
    PlanSettings coarse;
    coarse.pulsesPerMmText = "533.33";
    PlanSettings fine;
    fine.pulsesPerMmText = "3200";
    MoveRequest toTen;
    toTen.targets[0] = "10.001";
    toTen.speedText = "500";
    MoveRequest toTwenty = toTen;
    toTwenty.targets[0] = "20";

    const PlannedMove first = PlanMove(MachineState{}, coarse, toTen);
    EXPECT_EQ(first.report.steps[0], 5333u); // 5333.83
    // Pulses per mm retyped: both ends counted at 3200, 64000 - 32003.
    EXPECT_EQ(PlanMove(first.after, fine, toTwenty).report.steps[0], 31997u);
    EXPECT_EQ(PlanMove(first.after, coarse, toTwenty).report.steps[0], 5333u); // 10666 - 5333

    MachineState zeroed = first.after; // zeroing writes the display, not what it remembers
    zeroed[Axis::X].positionText = "0000.000";
    zeroed[Axis::X].positionMm = 0;
    EXPECT_EQ(PlanMove(zeroed, coarse, toTen).report.steps[0], 5333u);
}

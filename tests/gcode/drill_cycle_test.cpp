#include "gcode/drill_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using gcode::CycleMove;
using gcode::DrillBlock;
using Point = std::array<double, 3>;

CycleMove Rapid(double x, double y, double z) {
    return {true, {x, y, z}, 0};
}
CycleMove Feed(double x, double y, double z, double dwell = 0) {
    return {false, {x, y, z}, dwell};
}

DrillBlock Block(int code, bool g99, double r, double bottom, std::array<double, 2> hole,
                 double q = 0, double p = 0, int l = 1, std::array<double, 2> step = {}) {
    return DrillBlock{code, g99, r, bottom, q, p, hole, step, l, std::nullopt};
}

std::vector<CycleMove> MovesOf(const DrillBlock& block, const Point& from) {
    gcode::CycleRefusal refusal;
    const auto moves = gcode::DrillBlockMoves(block, from, refusal);
    EXPECT_TRUE(moves) << refusal.message;
    return moves.value_or(std::vector<CycleMove>{});
}

// Each program is the line that follows a G21 G90 G17 preamble and a G0 to `from`; the moves are
// those RS274/NGC interpreters list for it, rounded to the 0.1 µm they print.
struct Expansion {
    const char* program;
    DrillBlock block;
    Point from;
    std::vector<CycleMove> moves;
};

const Expansion kExpansions[] = {
    {"G98 G81 X1 Y2 Z-3 R2",
     Block(81, false, 2, -3, {1, 2}),
     {0, 0, 10},
     {Rapid(1, 2, 10), Rapid(1, 2, 2), Feed(1, 2, -3), Rapid(1, 2, 10)}},
    // Below R: up to R where it stands, then across; G98 then clears at R.
    {"G98 G81 X1 Y2 Z-8 R3 from Z-5",
     Block(81, false, 3, -8, {1, 2}),
     {5, 5, -5},
     {Rapid(5, 5, 3), Rapid(1, 2, 3), Feed(1, 2, -8), Rapid(1, 2, 3)}},
    {"G99 G82 X1 Y2 Z-8 R3 P0.5 from Z-5",
     Block(82, true, 3, -8, {1, 2}, 0, 0.5),
     {5, 5, -5},
     {Rapid(5, 5, 3), Rapid(1, 2, 3), Feed(1, 2, -8, 0.5), Rapid(1, 2, 3)}},
    // Standing on the hole at R: the rapid across stays in the list, the one down to R does not.
    {"G98 G81 X0 Y0 Z-1 R2 from Z2",
     Block(81, false, 2, -1, {0, 0}),
     {0, 0, 2},
     {Rapid(0, 0, 2), Feed(0, 0, -1), Rapid(0, 0, 2)}},
    {"G99 G83 X0 Y0 Z-1 R0.2 Q0.4",
     Block(83, true, 0.2, -1, {0, 0}, 0.4),
     {0, 0, 10},
     {Rapid(0, 0, 10), Rapid(0, 0, 0.2), Feed(0, 0, -0.2), Rapid(0, 0, 0.2), Rapid(0, 0, 0.054),
      Feed(0, 0, -0.6), Rapid(0, 0, 0.2), Rapid(0, 0, -0.346), Feed(0, 0, -1), Rapid(0, 0, 0.2)}},
    // A Q under the clearance: the return after each peck lands above R.
    {"G98 G83 X0 Y0 Z-0.3 R0 Q0.1 from Z5",
     Block(83, false, 0, -0.3, {0, 0}, 0.1),
     {0, 0, 5},
     {Rapid(0, 0, 5), Rapid(0, 0, 0), Feed(0, 0, -0.1), Rapid(0, 0, 0), Rapid(0, 0, 0.154),
      Feed(0, 0, -0.2), Rapid(0, 0, 0), Rapid(0, 0, 0.054), Feed(0, 0, -0.3), Rapid(0, 0, 5)}},
    {"G99 G83 X0 Y0 Z-1 R0 Q5",
     Block(83, true, 0, -1, {0, 0}, 5),
     {0, 0, 10},
     {Rapid(0, 0, 10), Rapid(0, 0, 0), Feed(0, 0, -1), Rapid(0, 0, 0)}},
    {"G98 G83 X1 Y0 Z2 R2 Q1",
     Block(83, false, 2, 2, {1, 0}, 1),
     {0, 0, 10},
     {Rapid(1, 0, 10), Rapid(1, 0, 2), Feed(1, 0, 2), Rapid(1, 0, 10)}},
    {"G98 G73 X1 Y1 Z-1 R1 Q0.7 from Z5",
     Block(73, false, 1, -1, {1, 1}, 0.7),
     {0, 0, 5},
     {Rapid(1, 1, 5), Rapid(1, 1, 1), Feed(1, 1, 0.3), Rapid(1, 1, 0.554), Feed(1, 1, -0.4),
      Rapid(1, 1, -0.146), Feed(1, 1, -1), Rapid(1, 1, 5)}},
    // The interpreters add a fourth peck to -0.8999999999999999 and then feed to -0.9 again;
    // three pecks are what the program says.
    {"G99 G73 X0 Y0 Z-0.9 R0 Q0.3",
     Block(73, true, 0, -0.9, {0, 0}, 0.3),
     {0, 0, 10},
     {Rapid(0, 0, 10), Rapid(0, 0, 0), Feed(0, 0, -0.3), Rapid(0, 0, -0.046), Feed(0, 0, -0.6),
      Rapid(0, 0, -0.346), Feed(0, 0, -0.9), Rapid(0, 0, 0)}},
    // L in G90: the same hole again, down from the clear height each time.
    {"G98 G81 X1 Y2 Z-1 R2 L2",
     Block(81, false, 2, -1, {1, 2}, 0, 0, 2),
     {0, 0, 10},
     {Rapid(1, 2, 10), Rapid(1, 2, 2), Feed(1, 2, -1), Rapid(1, 2, 10), Rapid(1, 2, 10),
      Rapid(1, 2, 2), Feed(1, 2, -1), Rapid(1, 2, 10)}},
    {"G91 G99 G81 X1 Y2 Z-3 R-8 L3",
     Block(81, true, 2, -1, {1, 2}, 0, 0, 3, {1, 2}),
     {0, 0, 10},
     {Rapid(1, 2, 10), Rapid(1, 2, 2), Feed(1, 2, -1), Rapid(1, 2, 2), Rapid(2, 4, 2),
      Feed(2, 4, -1), Rapid(2, 4, 2), Rapid(3, 6, 2), Feed(3, 6, -1), Rapid(3, 6, 2)}},
    // From below R the climb comes once, not once a hole.
    {"G91 G98 G81 X1 Y2 Z-3 R8 L2 from Z-5",
     Block(81, false, 3, 0, {1, 2}, 0, 0, 2, {1, 2}),
     {0, 0, -5},
     {Rapid(0, 0, 3), Rapid(1, 2, 3), Feed(1, 2, 0), Rapid(1, 2, 3), Rapid(2, 4, 3), Feed(2, 4, 0),
      Rapid(2, 4, 3)}},
};

TEST(DrillCycle, MatchesThePeerInterpreters) {
    for (const Expansion& expansion : kExpansions) {
        SCOPED_TRACE(expansion.program);
        const std::vector<CycleMove> moves = MovesOf(expansion.block, expansion.from);
        ASSERT_EQ(moves.size(), expansion.moves.size());
        for (std::size_t i = 0; i < moves.size(); ++i) {
            SCOPED_TRACE("move " + std::to_string(i));
            EXPECT_EQ(moves[i].rapid, expansion.moves[i].rapid);
            EXPECT_EQ(moves[i].dwellAfterSeconds, expansion.moves[i].dwellAfterSeconds);
            for (int axis = 0; axis < 3; ++axis) {
                EXPECT_NEAR(moves[i].target[axis], expansion.moves[i].target[axis], 1e-9);
            }
        }
    }
}

// Over many pecked holes: the drill only moves along Z or across at a height; it never rapids
// into metal it has not cut (closer than the clearance to the deepest point so far), never feeds
// up, below the bottom, or more than Q past the deepest point; and every hole reaches the bottom
// and leaves at the clear height.
TEST(DrillCycle, PecksNeverRapidIntoMetal) {
    for (const int code : {73, 83}) {
        for (const double q : {0.05, 0.1, 0.254, 0.3, 0.7, 1.0, 2.5, 9.0}) {
            for (const double bottom : {-0.9, -1.0, -2.54, -7.3}) {
                for (const double startZ : {-3.0, 0.5, 1.0, 20.0}) {
                    for (const bool g99 : {false, true}) {
                        const double r = 0.5;
                        const DrillBlock block =
                            Block(code, g99, r, bottom, {3, 4}, q, 1.5, 2, {-1, 2});
                        SCOPED_TRACE(std::string("G").append(std::to_string(code)) + " Q" +
                                     std::to_string(q) + " Z" + std::to_string(bottom) + " from Z" +
                                     std::to_string(startZ) + (g99 ? " G99" : " G98"));
                        const double clearZ = g99 ? r : std::max(r, startZ);
                        Point at{0, 0, startZ};
                        double deepest = r;
                        int bottoms = 0;
                        for (const CycleMove& move : MovesOf(block, at)) {
                            const double z = move.target[2];
                            EXPECT_EQ(move.dwellAfterSeconds, 0); // P dwells in G82 only
                            const bool across = move.target[0] != at[0] || move.target[1] != at[1];
                            EXPECT_TRUE(!across || (move.rapid && z == at[2]));
                            if (move.rapid) {
                                if (across) {
                                    deepest = r;
                                }
                                EXPECT_TRUE(z >= deepest + gcode::PeckClearanceMm - 1e-9 || z >= r);
                            } else {
                                EXPECT_LE(z, at[2]);
                                EXPECT_GE(z, bottom);
                                EXPECT_GE(z, deepest - q - 1e-9);
                                deepest = std::min(deepest, z);
                                bottoms += z == bottom;
                            }
                            at = move.target;
                        }
                        EXPECT_EQ(bottoms, 2);
                        EXPECT_EQ(at[2], clearZ);
                    }
                }
            }
        }
    }
}

TEST(DrillCycle, Refusals) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* what;
        DrillBlock block;
        const char* says;
    } refusals[] = {
        {"G83 Q0", Block(83, false, 2, -1, {0, 0}, 0), "Q"},
        {"G73 Q-1", Block(73, false, 2, -1, {0, 0}, -1), "Q"},
        {"R below Z", Block(81, false, 2, 3, {0, 0}), "R plane"},
        {"L0", Block(81, false, 2, -1, {0, 0}, 0, 0, 0), "L"},
        {"L-1", Block(81, false, 2, -1, {0, 0}, 0, 0, -1), "L"},
        {"G82 P-1", Block(82, false, 2, -1, {0, 0}, 0, -1), "P"},
        {"G84", Block(84, false, 2, -1, {0, 0}), "G84"},
        {"R infinite", Block(81, false, inf, -1, {0, 0}), "reach"},
        {"repeats beyond reach", Block(81, false, 2, -1, {0, 0}, 0, 0, 3, {1e308, 0}), "reach"},
        {"a micrometre's peck of 10 m", Block(83, false, 0, -10000, {0, 0}, 0.001), "more than"},
        {"L of a million", Block(81, false, 2, -1, {0, 0}, 0, 0, 1'000'000), "more than"},
    };
    for (const auto& refused : refusals) {
        SCOPED_TRACE(refused.what);
        gcode::CycleRefusal refusal;
        EXPECT_FALSE(gcode::DrillBlockMoves(refused.block, {0, 0, 10}, refusal));
        EXPECT_NE(refusal.message.find(refused.says), std::string::npos) << refusal.message;
    }
}

// The bound counts the moves exactly: starting at R, G98 holes are three moves each (no rapid
// down to R); the most that fit pass, one more is refused.
TEST(DrillCycle, MoveLimitIsExact) {
    const int holes = static_cast<int>(gcode::MaxDrillBlockMoves / 3);
    gcode::CycleRefusal refusal;
    const DrillBlock fits = Block(81, false, 2, -1, {0, 0}, 0, 0, holes);
    const auto moves = gcode::DrillBlockMoves(fits, {0, 0, 2}, refusal);
    ASSERT_TRUE(moves) << refusal.message;
    EXPECT_EQ(moves->size(), static_cast<std::size_t>(holes) * 3);
    const DrillBlock over = Block(81, false, 2, -1, {0, 0}, 0, 0, holes + 1);
    EXPECT_FALSE(gcode::DrillBlockMoves(over, {0, 0, 2}, refusal));
}

} // namespace

// G0 Z10 / G99 G81 X1 Z-1 R2 / G98 X2 R1: the G98 block climbs back to the Z before the series.
TEST(DrillCycle, G98ClimbsBackToWhereTheSeriesStarted) {
    DrillBlock second = Block(81, false, 1, -1, {2, 0});
    second.seriesStartZ = 10;
    EXPECT_EQ(MovesOf(second, {1, 0, 2}).back().target, (Point{2, 0, 10}));
    second.seriesStartZ.reset(); // without it, only as high as the block started
    EXPECT_EQ(MovesOf(second, {1, 0, 2}).back().target, (Point{2, 0, 2}));
}

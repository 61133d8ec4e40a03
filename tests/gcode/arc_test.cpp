#include "gcode/arc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <optional>
#include <utility>
#include <vector>

namespace {

using gcode::Arc;
using gcode::ArcRefusal;
using gcode::Plane;
using Point = std::array<double, 3>;
using Placing = std::function<Point(Point)>;

constexpr Plane XY = Plane::XY, ZX = Plane::ZX, YZ = Plane::YZ;
constexpr double kPi = std::numbers::pi;
constexpr double k45 = 10 / std::numbers::sqrt2; // 10 mm at 45 degrees

Arc Centred(Point start, Point end, Point centre, Plane plane = XY, bool cw = false, int p = 1) {
    ArcRefusal refusal;
    const auto arc = gcode::ArcFromCentre(start, end, centre, plane, cw, p, refusal);
    EXPECT_TRUE(arc) << refusal.message;
    return arc.value_or(Arc{});
}

Point Along(const Point& a, const Point& b, double t) {
    return {a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t};
}

double ToSegment(const Point& p, const Point& a, const Point& b) {
    double along = 0, length2 = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        along += (p[i] - a[i]) * (b[i] - a[i]);
        length2 += (b[i] - a[i]) * (b[i] - a[i]);
    }
    const Point q = Along(a, b, length2 > 0 ? std::clamp(along / length2, 0.0, 1.0) : 0.0);
    return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
}

Point Rounded(Point p) {
    for (double& coordinate : p) {
        coordinate = std::round(coordinate * 1000) / 1000;
    }
    return p;
}

// Where the caller's rounding puts the vertices, and the farthest it could put them: every
// corner of the half-thousandth box (across the plane only where the third axis moves).
std::vector<Placing> Placings(const Arc& arc) {
    std::vector<Placing> placings = {Rounded};
    const std::size_t across = arc.plane == XY ? 2 : arc.plane == ZX ? 1 : 0;
    for (int corner = 0; corner < 8; ++corner) {
        Point shift{corner & 1 ? 5e-4 : -5e-4, corner & 2 ? 5e-4 : -5e-4,
                    corner & 4 ? 5e-4 : -5e-4};
        if (arc.start[across] == arc.end[across]) {
            shift[across] = Rounded(arc.start)[across] - arc.start[across];
        }
        placings.push_back([shift](Point p) {
            for (std::size_t axis = 0; axis < 3; ++axis) {
                p[axis] += shift[axis];
            }
            return p;
        });
    }
    return placings;
}

// The farthest the arc and its n chords get apart, the vertices placed by `placed`: points
// along each piece of the arc against its chord, and along each chord against its piece
// (drawn 32 times finer).
double Stray(const Arc& arc, std::size_t n, const Placing& placed) {
    constexpr std::size_t kFine = 32;
    std::vector<Point> fine;
    for (std::size_t j = 0; j <= n * kFine; ++j) {
        fine.push_back(gcode::ArcVertex(arc, j, n * kFine));
    }
    double worst = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const Point a = placed(gcode::ArcVertex(arc, k, n));
        const Point b = placed(gcode::ArcVertex(arc, k + 1, n));
        for (std::size_t j = 0; j <= kFine; ++j) {
            worst = std::max(worst, ToSegment(fine[k * kFine + j], a, b));
            double nearest = 1e9;
            for (std::size_t i = k * kFine; i < (k + 1) * kFine; ++i) {
                nearest = std::min(nearest, ToSegment(Along(a, b, static_cast<double>(j) / kFine),
                                                      fine[i], fine[i + 1]));
            }
            worst = std::max(worst, nearest);
        }
    }
    return worst;
}

TEST(Arc, TurnsCounterClockwiseSeenFromThePositiveAxisAcrossThePlane) {
    struct Case {
        const char* name;
        Plane plane;
        bool clockwise;
        int turns;
        Point start, end;
        double sweep;
        Point middle; // at half the sweep
        Point centre{};
    };
    const double s = 9.9955 / std::numbers::sqrt2;
    const std::vector<Case> cases = {
        {"G17 G3 quarter", XY, false, 1, {10, 0, 0}, {0, 10, 0}, kPi / 2, {k45, k45, 0}},
        {"G17 G2 quarter", XY, true, 1, {10, 0, 0}, {0, -10, 0}, -kPi / 2, {k45, -k45, 0}},
        {"G17 G3 half", XY, false, 1, {10, 0, 0}, {-10, 0, 0}, kPi, {0, 10, 0}},
        {"G17 G2 half", XY, true, 1, {10, 0, 0}, {-10, 0, 0}, -kPi, {0, -10, 0}},
        {"G18 G3", ZX, false, 1, {0, 0, 12}, {10, 0, 2}, kPi / 2, {k45, 0, 2 + k45}, {0, 0, 2}},
        {"G18 G2 half", ZX, true, 1, {0, 0, 10}, {0, 0, -10}, -kPi, {-10, 0, 0}},
        {"G19 G3 Y to Z", YZ, false, 1, {0, 10, 0}, {0, 0, 10}, kPi / 2, {0, k45, k45}},
        {"G19 G2 half", YZ, true, 1, {0, 10, 0}, {0, -10, 0}, -kPi, {0, 0, -10}},
        {"start on the end", XY, false, 1, {10, 0, 0}, {10, 0, 0}, 2 * kPi, {-10, 0, 0}},
        {"full circle, P3", ZX, true, 3, {0, 0, 10}, {0, 0, 10}, -6 * kPi, {0, 0, -10}},
        {"half, P2, X climbs", YZ, true, 2, {0, 10, 0}, {-4, -10, 0}, -3 * kPi, {-2, 0, 10}},
        {"end 0.009 inside", XY, false, 1, {10, 0, 0}, {0, 9.991, 0}, kPi / 2, {s, s, 0}},
        {"G3 onto the ray", XY, false, 1, {10, 0, 0}, {10.004, 0, 0}, 2 * kPi, {-10.002, 0, 0}},
        {"G2 onto the ray", ZX, true, 1, {0, 0, 10}, {0, 0, 10.004}, -2 * kPi, {0, 0, -10.002}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Arc arc = Centred(c.start, c.end, c.centre, c.plane, c.clockwise, c.turns);
        EXPECT_NEAR(arc.sweep, c.sweep, 1e-12);
        const Point middle = gcode::ArcVertex(arc, 2, 4);
        for (std::size_t axis = 0; axis < 3; ++axis) {
            EXPECT_NEAR(middle[axis], c.middle[axis], 1e-9) << "axis " << axis;
        }
    }
}

TEST(Arc, RadiusFormatTakesTheShortWayForPositiveR) {
    struct Case {
        const char* name;
        Plane plane;
        bool clockwise;
        Point end;
        double radius, centreU, centreV, sweep;
    };
    const std::vector<Case> cases = {
        {"G3 R+", XY, false, {0, 10, 0}, 10, 0, 0, kPi / 2},
        {"G3 R-", XY, false, {0, 10, 0}, -10, 10, 10, 3 * kPi / 2},
        {"G2 R+", XY, true, {0, 10, 0}, 10, 10, 10, -kPi / 2},
        {"G2 R-", XY, true, {0, 10, 0}, -10, 0, 0, -3 * kPi / 2},
        {"G18 G2 R+", ZX, true, {0, 0, 0}, 10, 0, 10, -kPi / 2},
        {"chord 0.075 % over 2R", XY, false, {-10.015, 0, 0}, 10, -0.0075, 0, kPi},
        {"chord 0.0009 over 2R", XY, true, {9.5991, 0, 0}, -0.2, 9.79955, 0, -kPi},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ArcRefusal refusal;
        const auto arc =
            gcode::ArcFromRadius({10, 0, 10}, c.end, c.radius, c.plane, c.clockwise, 1, refusal);
        ASSERT_TRUE(arc) << refusal.message;
        EXPECT_NEAR(arc->centreU, c.centreU, 1e-9);
        EXPECT_NEAR(arc->centreV, c.centreV, 1e-9);
        EXPECT_NEAR(arc->sweep, c.sweep, 1e-9);
    }
}

TEST(Arc, RefusesWhatCannotBeCut) {
    const auto byCentre = [](Point start, Point end, Point centre, int turns = 1) {
        return [=](ArcRefusal& r) {
            return gcode::ArcFromCentre(start, end, centre, XY, false, turns, r);
        };
    };
    const auto byRadius = [](Point start, Point end, double radius) {
        return [=](ArcRefusal& r) {
            return gcode::ArcFromRadius(start, end, radius, XY, false, 1, r);
        };
    };
    const std::vector<std::pair<const char*, std::function<std::optional<Arc>(ArcRefusal&)>>>
        cases = {
            {"centre on the start", byCentre({5, 5, 0}, {5.004, 5, 0}, {5, 5, 0})},
            {"centre on the end", byCentre({5.004, 5, 0}, {5, 5, 0}, {5, 5, 0})},
            {"radii 0.6 apart, within 0.1 %", byCentre({1000, 0, 0}, {0, 1000.6, 0}, {})},
            {"radii 0.006 apart at 2", byCentre({2, 0, 0}, {0, 2.006, 0}, {})},
            {"radii 0.011 apart at 10", byCentre({10, 0, 0}, {0, 10.011, 0}, {})},
            {"P0", byCentre({10, 0, 0}, {0, 10, 0}, {}, 0)},
            {"R0", byRadius({0, 0, 0}, {0.0005, 0, 0}, 0)},
            {"R ending where it starts", byRadius({3, 4, 0}, {3, 4, -2}, 5)},
            {"chord 0.15 % over 2R", byRadius({0, 0, 0}, {20.03, 0, 0}, 10)},
            {"chord 0.0015 over 2R", byRadius({0, 0, 0}, {0.4015, 0, 0}, 0.2)},
        };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        ArcRefusal refusal;
        EXPECT_FALSE(make(refusal));
        EXPECT_FALSE(refusal.message.empty());
    }
}

TEST(Arc, SegmentsStayWithinToleranceEndOnTheEndAndAreNotWasted) {
    struct Case {
        const char* name;
        Arc arc;
        double toleranceMm;
        bool fewerWouldStray; // with two thirds of the segments
    };
    ArcRefusal refusal;
    const std::vector<Case> cases = {
        {"full circle of radius 10", Centred({10, 0, 0}, {10, 0, 0}, {}), 0.002, true},
        {"G18 quarter of 50", Centred({0, 0, 50}, {-50, 0, 0}, {}, ZX, true), 0.001, false},
        {"G19 helix, P2", Centred({3, 5, 0}, {0, 5, 0}, {}, YZ, false, 2), 0.001, false},
        {"steep helix", Centred({0, 1, 0}, {-20, -1, 0}, {}, YZ, false, 3), 0.01, true},
        {"spiral 0.01 to 0.015", Centred({0.01, 0, 0}, {0.015, 0, 0}, {}), 0.001, false},
        {"spiral 1000 to 1000.45", Centred({1000, 0, 0}, {0, 1000.45, 0}, {}), 0.1, true},
        {"no exact doubles", Centred({0.1 + 0.2, 0.7, 0}, {-0.7, 0.3000001, 0}, {}), 0.001, false},
        {"plane off the thousandths", Centred({8, 0, 4e-4}, {0, 8, 4e-4}, {}), 0.001, false},
        {"R- long way", *gcode::ArcFromRadius({0, 0, 0}, {30, 10, 0}, -25, XY, true, 1, refusal),
         0.01, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t n = gcode::ArcSegmentCount(c.arc, c.toleranceMm).value();
        for (const Placing& placed : Placings(c.arc)) {
            EXPECT_LE(Stray(c.arc, n, placed), c.toleranceMm) << n << " segments";
        }
        if (c.fewerWouldStray) {
            EXPECT_GT(Stray(c.arc, n * 2 / 3, Rounded), c.toleranceMm) << n << " segments";
        }
        const auto sameBits = [](const Point& a, const Point& b) {
            return std::bit_cast<std::array<std::uint64_t, 3>>(a) ==
                   std::bit_cast<std::array<std::uint64_t, 3>>(b);
        };
        EXPECT_TRUE(sameBits(gcode::ArcVertex(c.arc, 0, n), c.arc.start));
        EXPECT_TRUE(sameBits(gcode::ArcVertex(c.arc, n, n), c.arc.end));
        // The walk the planner takes gives the same vertices, also when stepped a long way.
        for (const std::size_t walked : {n, std::size_t{65536}}) {
            gcode::ArcWalk walk(c.arc, walked);
            for (std::size_t k = 1; k <= walked; ++k) {
                const Point w = walk.Next();
                const Point v = gcode::ArcVertex(c.arc, k, walked);
                for (std::size_t axis = 0; axis < 3; ++axis) {
                    ASSERT_NEAR(w[axis], v[axis], 1e-9 * (1 + c.arc.startRadius)) << k;
                }
                if (k == walked) {
                    EXPECT_TRUE(sameBits(w, c.arc.end));
                }
            }
        }
    }
    EXPECT_LE(gcode::ArcSegmentCount(cases[0].arc, 0.002).value(), 300u);
}

TEST(Arc, SegmentCountLimits) {
    struct Case {
        const char* name;
        Arc arc;
        double toleranceMm;
        std::size_t fewest, most; // both 0: refused
    };
    const Point km{1e6, 0, 0}, tiny{0.05, 0, 0};
    const std::vector<Case> cases = {
        {"a kilometre circle at a thousandth", Centred(km, km, {}), 0.001, 0, 0},
        {"the same circle at a tenth", Centred(km, km, {}), 0.1, 1000, 10000},
        {"a thousandth of a radian", Centred({1, 0, 0}, {1, 1e-3, 0}, {}), 0.002, 1, 1},
        {"three tiny circles: one per quarter", Centred(tiny, tiny, {}, XY, true, 3), 0.1, 12, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<std::size_t> n = gcode::ArcSegmentCount(c.arc, c.toleranceMm);
        EXPECT_EQ(n.has_value(), c.most != 0);
        EXPECT_GE(n.value_or(0), c.fewest);
        EXPECT_LE(n.value_or(0), c.most);
    }
}

} // namespace

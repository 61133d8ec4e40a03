#include "gcode/plot_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using gcode::PlotRowInput;
using gcode::PlotSegment;

// A row as move planning leaves it: unsigned distances and the bits of a move towards larger
// (or smaller) X and Y with nothing inverted.
PlotRowInput Move(double dx, double dy, bool rapid = false, bool preview = true) {
    PlotRowInput row;
    row.xDistanceMm = std::abs(dx);
    row.yDistanceMm = std::abs(dy);
    row.xDirection = dx > 0 ? 1 : 0;
    row.yDirection = dy > 0 ? 1 : 0;
    row.rapid = rapid;
    row.preview = preview;
    return row;
}

gcode::Extent ExtentOf(const char* text) {
    gcode::Extent e;
    e.Offer(text);
    return e;
}

TEST(PlotGeometry, PreviewRapidMovesThePenWithoutDrawing) {
    gcode::PlotPen pen;
    pen.ToOrigin();
    EXPECT_FALSE(gcode::PlotRow(pen, Move(5, 5, true)));
    const auto feed = gcode::PlotRow(pen, Move(1, 0));
    ASSERT_TRUE(feed);
    EXPECT_DOUBLE_EQ(feed->x0, 60 + 5 * 19.2);
    EXPECT_DOUBLE_EQ(feed->y0, 4555 - 5 * 19.2);
}

TEST(PlotGeometry, FitRuleScalesTheLargerExtentTo4512Units) {
    EXPECT_DOUBLE_EQ(gcode::FitPlotScale(ExtentOf("0050.000"), ExtentOf("0020.000"), true),
                     19.2 * 235 / 50);
    EXPECT_NEAR(gcode::FitPlotScale(ExtentOf("0050.000"), ExtentOf("0020.000"), true), 90.24,
                1e-12);
    EXPECT_DOUBLE_EQ(gcode::FitPlotScale(ExtentOf("0020.000"), ExtentOf("0050.000"), true),
                     19.2 * 235 / 50);
    // By number: 12000 is the larger extent although its text sorts below 9000.
    EXPECT_DOUBLE_EQ(gcode::FitPlotScale(ExtentOf("9000.000"), ExtentOf("12000.00"), true),
                     19.2 * 235 / 12000);

    gcode::PlotPen pen;
    gcode::ResetPlot(pen, ExtentOf("0050.000"), ExtentOf("0020.000"), true, 0);
    const auto s = gcode::PlotRow(pen, Move(50, 0));
    ASSERT_TRUE(s);
    EXPECT_NEAR(s->x1 - s->x0, 4512, 1e-9);
}

TEST(PlotGeometry, FitRuleKeepsTheBaseScaleWithoutAPositiveExtent) {
    const gcode::Extent none;
    EXPECT_EQ(gcode::FitPlotScale(ExtentOf("0050.000"), ExtentOf("0020.000"), false), 19.2);
    EXPECT_EQ(gcode::FitPlotScale(none, none, true), 19.2);
    EXPECT_EQ(gcode::FitPlotScale(ExtentOf("0000.000"), none, true), 19.2);
    EXPECT_EQ(gcode::FitPlotScale(ExtentOf("-0003.00"), none, true), 19.2);
    EXPECT_EQ(gcode::FitPlotScale(ExtentOf("abc "), none, true), 19.2);
}

TEST(PlotGeometry, DirectionsDoNotDependOnInversion) {
    // Each case: a move towards larger X and Y, with the bits the report carries after the
    // axis's inversion. The pen must go right and up every time.
    for (const bool invX : {false, true}) {
        for (const bool invY : {false, true}) {
            gcode::PlotPen pen;
            pen.ToOrigin();
            PlotRowInput row = Move(1, 1);
            row.inverseX = invX;
            row.inverseY = invY;
            row.xDirection = invX ? 0 : 1;
            row.yDirection = invY ? 0 : 1;
            gcode::PlotRow(pen, row);
            EXPECT_GT(pen.PlotX, 60) << invX << invY;
            EXPECT_LT(pen.PlotY, 4555) << invX << invY;
        }
    }
}

TEST(PlotGeometry, ClipsToTheBox) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        PlotSegment in;
        bool visible;
        PlotSegment out;
    };
    const std::vector<Case> cases = {
        {{10, 10, 20, 20, 0}, true, {10, 10, 20, 20, 0}},
        {{-100, 100, 100, 100, 0}, true, {0, 100, 100, 100, 0}},
        {{100, 4000, 100, 5000, 0}, true, {100, 4000, 100, 4635, 0}},
        {{-10, -10, -1, -1, 0}, false, {}},
        {{5000, 0, 6000, 100, 0}, false, {}},
        {{0, 0, inf, 0, 0}, false, {}},
        {{0, 0, std::nan(""), 0, 0}, false, {}},
    };
    for (const Case& c : cases) {
        const auto clipped = gcode::ClipToBox(c.in, 4635);
        ASSERT_EQ(clipped.has_value(), c.visible) << c.in.x0 << "," << c.in.y0;
        if (c.visible) {
            EXPECT_DOUBLE_EQ(clipped->x0, c.out.x0);
            EXPECT_DOUBLE_EQ(clipped->y0, c.out.y0);
            EXPECT_DOUBLE_EQ(clipped->x1, c.out.x1);
            EXPECT_DOUBLE_EQ(clipped->y1, c.out.y1);
        }
    }
}

} // namespace

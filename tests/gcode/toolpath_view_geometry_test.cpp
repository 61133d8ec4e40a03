// The toolpath view without pixels on a screen: the path a program makes, where the camera puts
// points, what a click picks, and what the drawing functions write into a block of pixels.
#include "gcode/path_raster.h"
#include "gcode/program_load.h"
#include "gcode/toolpath.h"
#include "gcode/view_camera.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace {

using gcode::ScreenPoint;
using gcode::Toolpath;
using gcode::ViewCamera;
using gcode::ViewKind;
using Point = std::array<double, 3>;

gcode::Program ProgramOf(const std::string& text) {
    gcode::LoadSettings settings;
    return gcode::LoadGcode(text, settings);
}

Toolpath PathOf(const std::string& text, Point start = {0, 0, 0}) {
    return gcode::BuildToolpath(ProgramOf(text), start, gcode::DefaultArcToleranceMm);
}

Point At(const Toolpath& path, std::size_t point) {
    const gcode::PathPoint p = path.Points()[point];
    return {p.x, p.y, p.z};
}

ViewCamera Camera(ViewKind kind, double scale = 2, Point centre = {0, 0, 0}) {
    ViewCamera camera;
    camera.kind = kind;
    camera.scale = scale;
    camera.centre = centre;
    camera.width = 400;
    camera.height = 300;
    return camera;
}

TEST(Toolpath, EachRowEndsWhereItsCellsSayAndKeepsTheAxesItLeaves) {
    // From a jogged start: the first move starts there, and Z stays until a row sets it.
    const Toolpath path = PathOf("G0 X10 Y5\nG1 Z-1 F100\nG1 X20\n", {3, 4, 2});
    ASSERT_EQ(path.MoveCount(), 3u);
    const std::vector<Point> expected = {{3, 4, 2}, {10, 5, 2}, {10, 5, -1}, {20, 5, -1}};
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(At(path, k), expected[k]) << k;
    }
    EXPECT_EQ(path.Start(), (Point{3, 4, 2}));
    EXPECT_EQ(path.Extents().min, (Point{10, 5, -1})); // the start itself not counted
    EXPECT_EQ(path.Extents().max, (Point{20, 5, 2}));
    EXPECT_EQ(gcode::SizeText(path.Extents()), "10.000 x 0.000 x 3.000 mm");
}

TEST(Toolpath, FeedMovesAlternateColoursPassByPassAsARunDrawsThem) {
    const Toolpath path = PathOf("G0 Z1\nG1 Z-1 F100\nG1 X10\nG1 Z-2\nG1 X0\nG0 Z1\nG1 X5\n");
    const std::uint8_t rapid = Toolpath::Rapid, deeper = Toolpath::DeeperPass;
    const std::vector<std::uint8_t> kinds = {rapid, deeper, deeper, 0, 0, rapid, 0};
    ASSERT_EQ(path.MoveCount(), kinds.size());
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        EXPECT_EQ(path.KindOf(k), kinds[k]) << k;
    }
}

TEST(Toolpath, ArcsAreTheirStraightMovesAndRowsFindTheirMoves) {
    // A full circle of 10 mm radius at 0.002 mm is hundreds of moves to cut; the view keeps at
    // most one per 5 degrees. A quarter turn of a tiny arc keeps what the run cuts.
    const Toolpath path = PathOf("G1 X10 F100\nG2 X10 Y0 I-10 J0\nG1 X0\nG3 X0.1 Y0.1 I0.1\n");
    const auto [first, last] = path.MovesOf(1);
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(last - first, gcode::ViewArcMovesPerTurn);
    for (std::size_t k = first; k < last; ++k) {
        const Point p = At(path, k + 1);
        EXPECT_NEAR(std::hypot(p[0], p[1]), 10, 1e-5) << k; // on the circle round the origin
        EXPECT_EQ(path.RowOf(k), 1u);
    }
    EXPECT_EQ(path.MovesOf(2), std::make_pair(last, last + 1));
    const auto tiny = path.MovesOf(3);
    EXPECT_GE(tiny.second - tiny.first, 2u);
    EXPECT_LE(tiny.second - tiny.first, gcode::ViewArcMovesPerTurn / 4);
    EXPECT_EQ(path.MovesBefore(99), path.MoveCount());
    EXPECT_LE(path.MemoryBytes(), 17 * path.MoveCount() + 12 + 64);
}

TEST(ViewCamera, EachViewShowsItsTwoAxesTheRightWayUp) {
    struct Case {
        ViewKind kind;
        Point p;
        ScreenPoint expected;
    };
    // Scale 2 px/mm about the middle of a 400 x 300 screen: (200, 150).
    const Case cases[] = {
        {ViewKind::Top, {10, 5, 7}, {220, 140}},   // X right, Y up, Z unseen
        {ViewKind::Front, {10, 5, 7}, {220, 136}}, // X right, Z up
        {ViewKind::Side, {10, 5, 7}, {210, 136}},  // Y right, Z up
    };
    for (const Case& c : cases) {
        const ScreenPoint s = Camera(c.kind).Project(c.p);
        EXPECT_NEAR(s.x, c.expected.x, 1e-9) << static_cast<int>(c.kind);
        EXPECT_NEAR(s.y, c.expected.y, 1e-9) << static_cast<int>(c.kind);
    }
    // The turned view level with the table, looking along +Y, is the front view; looking
    // straight down it is the top view.
    ViewCamera turned = Camera(ViewKind::Turned);
    turned.yawDegrees = 0;
    for (const auto& [pitch, same] : {std::pair{0.0, ViewKind::Front}, {90.0, ViewKind::Top}}) {
        turned.pitchDegrees = pitch;
        const ScreenPoint a = turned.Project({10, 5, 7});
        const ScreenPoint b = Camera(same).Project({10, 5, 7});
        EXPECT_NEAR(a.x, b.x, 1e-9);
        EXPECT_NEAR(a.y, b.y, 1e-9);
    }
}

TEST(ViewCamera, ZoomKeepsThePointUnderTheCursorAndPanMovesByTheDrag) {
    for (const ViewKind kind : {ViewKind::Top, ViewKind::Front, ViewKind::Side, ViewKind::Turned}) {
        ViewCamera camera = Camera(kind, 1.5, {4, -3, 2});
        const ScreenPoint cursor{310, 40};
        const Point under = camera.Unproject(cursor);
        for (const double factor : {1.25, 0.8, 40.0, 1e-9}) {
            camera.ZoomAbout(cursor, factor);
            const ScreenPoint s = camera.Project(under);
            EXPECT_NEAR(s.x, cursor.x, 1e-6) << factor;
            EXPECT_NEAR(s.y, cursor.y, 1e-6) << factor;
        }
        EXPECT_GE(camera.scale, gcode::MinViewScale); // not zoomed out to nothing
        camera.scale = 3;
        const ScreenPoint before = camera.Project({7, 8, 9});
        camera.PanBy(12, -5);
        const ScreenPoint after = camera.Project({7, 8, 9});
        EXPECT_NEAR(after.x - before.x, 12, 1e-9);
        EXPECT_NEAR(after.y - before.y, -5, 1e-9);
    }
}

TEST(ViewCamera, TurningStartsFromTheViewShownAndStopsAtStraightDownAndLevel) {
    ViewCamera camera = Camera(ViewKind::Top);
    camera.Orbit(0, 0);
    EXPECT_EQ(camera.kind, ViewKind::Turned);
    EXPECT_EQ(camera.pitchDegrees, 90); // the top view it came from
    camera.Orbit(0, 1000);
    EXPECT_EQ(camera.pitchDegrees, 90);
    camera.Orbit(0, -10000);
    EXPECT_EQ(camera.pitchDegrees, -90);
    camera.Orbit(900 / 0.4, 0); // two and a half turns: the yaw stays within a turn
    EXPECT_LE(std::abs(camera.yawDegrees), 180);
}

TEST(ViewCamera, FitShowsTheWholeProgramAndItsOriginInEveryView) {
    const Toolpath path = PathOf("G0 X-10 Y-20 Z5\nG1 X110 Y180 Z-3 F100\n");
    for (const ViewKind kind : {ViewKind::Top, ViewKind::Front, ViewKind::Side, ViewKind::Turned}) {
        ViewCamera camera = Camera(kind, 1000, {500, 500, 500});
        camera.Fit(path.Extents(), {0, 0, 0}, 10);
        gcode::PathBox all = path.Extents();
        all.Add({0, 0, 0});
        EXPECT_TRUE(camera.Shows(all)) << static_cast<int>(kind);
        camera.ZoomAbout({200, 150}, 1.1); // and no larger than it needs to be
        EXPECT_FALSE(camera.Shows(all)) << static_cast<int>(kind);
    }
}

TEST(ViewCamera, TheFirstViewIsThePlotBoxUnlessThatCutsThePartOff) {
    // 10 mm square at the base scale on a 463.5-pixel box: the corners where the plot box
    // drew them, a tenth of its units.
    const double side = 463.5;
    const Toolpath square = PathOf("G0 X0 Y0\nG1 X10 F100\nG1 Y10\nG1 X0\nG1 Y0\n");
    const ViewCamera first = gcode::FirstView(square.Extents(), side, side, 4635, 19.2);
    const ScreenPoint origin = first.Project({0, 0, 0});
    const ScreenPoint corner = first.Project({10, 10, 0});
    EXPECT_NEAR(origin.x, 6.0, 1e-9);
    EXPECT_NEAR(origin.y, 455.5, 1e-9);
    EXPECT_NEAR(corner.x, 25.2, 1e-9);
    EXPECT_NEAR(corner.y, 436.3, 1e-9);
    // A contour from X-10 would start left of the box: the first view fits it, origin inside.
    const Toolpath negative = PathOf("G0 X-10 Y-10\nG1 X100 F100\nG1 Y50\n");
    const ViewCamera fitted = gcode::FirstView(negative.Extents(), side, side, 4635, 19.2);
    gcode::PathBox all = negative.Extents();
    all.Add({0, 0, 0});
    EXPECT_TRUE(fitted.Shows(all));
    EXPECT_EQ(fitted.kind, ViewKind::Top);
}

TEST(ViewCamera, AClickPicksTheRowOfTheNearestMoveWithinReach) {
    // Rows: 0 rapid to (10, 0), 1 feed to (10, 10), 2 feed to (0, 10).
    const Toolpath path = PathOf("G0 X10\nG1 Y10 F100\nG1 X0\n");
    const ViewCamera camera = Camera(ViewKind::Top, 10, {5, 5, 0}); // (0,0) at (150, 200)
    struct Case {
        ScreenPoint at;
        bool withRapids;
        std::optional<std::size_t> row;
    };
    const Case cases[] = {
        {{250, 120}, false, 1}, // beside the right edge, 2 px off
        {{180, 105}, false, 2}, // beside the top edge
        {{200, 203}, true, 0},  // on the rapid, rapids counted
        {{200, 203}, false, std::nullopt},
        {{200, 150}, true, std::nullopt}, // the middle of the square: nothing within 8 px
        {{249, 101}, false, 2},           // the shared corner: the later row, drawn on top
    };
    for (const Case& c : cases) {
        EXPECT_EQ(gcode::RowNear(path, camera, c.at, 8, c.withRapids), c.row)
            << c.at.x << "," << c.at.y;
    }
    EXPECT_EQ(gcode::HoverText(camera, {250, 100}), "X 10.000  Y 10.000");
    EXPECT_EQ(gcode::HoverText(Camera(ViewKind::Side), {210, 136}), "Y 5.000  Z 7.000");
    EXPECT_EQ(gcode::HoverText(Camera(ViewKind::Turned), {0, 0}), "");
}

TEST(ScaleBar, IsTheLongestRoundLengthThatFits) {
    struct Case {
        double pixelsPerMm;
        double maxPixels;
        double mm;
        const char* text;
    };
    const Case cases[] = {
        {2, 100, 50, "50 mm"},        {2, 99, 20, "20 mm"},       {19.2, 120, 5, "5 mm"},
        {300, 100, 0.2, "0.2 mm"},    {0.01, 100, 10000, "10 m"}, {1, 10, 10, "10 mm"},
        {4000, 100, 0.02, "0.02 mm"},
    };
    for (const Case& c : cases) {
        const gcode::ScaleBar bar = gcode::ScaleBarFor(c.pixelsPerMm, c.maxPixels);
        EXPECT_DOUBLE_EQ(bar.mm, c.mm) << c.pixelsPerMm << " " << c.maxPixels;
        EXPECT_EQ(bar.text, c.text);
        EXPECT_LE(bar.pixels, c.maxPixels + 1e-9);
    }
    EXPECT_EQ(gcode::ScaleBarFor(0, 100).mm, 0);
}

// A small block of pixels to draw into, white to start with.
struct Block {
    explicit Block(int w, int h) : pixels(static_cast<std::size_t>(w * h), White) {
        block = {pixels.data(), w, h, w};
    }
    std::uint32_t At(int x, int y) const {
        return pixels[static_cast<std::size_t>(y * block.width + x)];
    }
    int Count(std::uint32_t colour) const {
        return static_cast<int>(std::count(pixels.begin(), pixels.end(), colour));
    }
    static constexpr std::uint32_t White = 0xFFFFFFFF;
    std::vector<std::uint32_t> pixels;
    gcode::PixelBlock block;
};

TEST(PathRaster, DrawsCutAndUncutMovesAndLeavesHiddenRapidsOut) {
    const Toolpath path = PathOf("G0 X10\nG1 Y10 F100\nG1 X0\nG1 Y0\n");
    const ViewCamera camera = Camera(ViewKind::Top, 10, {5, 5, 0}); // (0,0) at (150, 200)
    gcode::PathColours colours;
    Block drawn(400, 300);
    gcode::DrawPath(path, camera, 0, path.MoveCount(), 2, colours, drawn.block);
    EXPECT_EQ(drawn.At(250, 150), colours.cutFeed);   // row 1, cut
    EXPECT_EQ(drawn.At(200, 100), colours.uncutFeed); // row 2, not yet
    EXPECT_EQ(drawn.At(150, 150), colours.uncutFeed); // row 3
    EXPECT_EQ(drawn.At(200, 150), Block::White);
    EXPECT_GT(drawn.Count(colours.cutRapid), 40); // dashed: about half of the 100 pixels
    EXPECT_LT(drawn.Count(colours.cutRapid), 60);

    colours.rapids = false;
    Block noRapids(400, 300);
    gcode::DrawPath(path, camera, 0, path.MoveCount(), 0, colours, noRapids.block);
    EXPECT_EQ(noRapids.Count(colours.uncutRapid), 0);
    EXPECT_EQ(noRapids.Count(colours.cutRapid), 0);
    EXPECT_GT(noRapids.Count(colours.uncutFeed), 290);
}

TEST(PathRaster, ManyMovesInOnePixelDrawWhatOneLineWouldAndHalvesMakeTheWhole) {
    // A zigzag of 20,000 moves a hundredth of a millimetre long, then a long move: far from
    // the camera most moves stay inside a pixel.
    std::string text = "G1 F100\n";
    for (int k = 0; k < 20000; ++k) {
        text += "G1 X" + std::to_string(k * 0.01) + " Y" + (k % 2 ? "0.01\n" : "0\n");
    }
    text += "G1 X0 Y50\n";
    const Toolpath path = PathOf(text);
    const ViewCamera camera = Camera(ViewKind::Top, 2, {100, 25, 0});
    gcode::PathColours colours;
    Block whole(400, 300);
    gcode::DrawPath(path, camera, 0, path.MoveCount(), 0, colours, whole.block);
    // The zigzag is a line 400 pixels long, a pixel high; the last move a line back.
    EXPECT_GE(whole.Count(colours.uncutFeed), 400);
    EXPECT_LE(whole.Count(colours.uncutFeed), 1400);
    for (int x = 0; x < 400; x += 37) {
        EXPECT_EQ(whole.At(x, 200), colours.uncutFeed) << x; // y = 0 lands on row 200
    }
    Block halves(400, 300);
    gcode::PixelBlock upper = halves.block, lower = halves.block;
    upper.bottom = lower.top = 150;
    gcode::DrawPath(path, camera, 0, path.MoveCount(), 0, colours, upper);
    gcode::DrawPath(path, camera, 0, path.MoveCount(), 0, colours, lower);
    EXPECT_EQ(halves.pixels, whole.pixels);
    // Simplified, every 50th point joined: the same line, a pixel higher or not.
    Block simple(400, 300);
    gcode::DrawPath(path, camera, 0, path.MoveCount(), 0, colours, simple.block, 50);
    for (int x = 0; x < 400; x += 37) {
        EXPECT_TRUE(simple.At(x, 199) == colours.uncutFeed ||
                    simple.At(x, 200) == colours.uncutFeed)
            << x;
    }
    EXPECT_LT(simple.Count(colours.uncutFeed), whole.Count(colours.uncutFeed));
}

TEST(PathRaster, LinesFarOffTheBlockAreClippedNotWalked) {
    Block block(100, 100);
    const struct {
        ScreenPoint a, b;
        int pixels;
    } cases[] = {
        {{-1e12, 50}, {1e12, 50}, 100}, // across: one row of it
        {{-1e12, -1e12}, {1e12, 1e12}, 100}, {{-5, -5}, {-1e9, 1e9}, 0},
        {{std::nan(""), 0}, {50, 50}, 0},    {{10, 10}, {10, 10}, 1},
    };
    for (const auto& c : cases) {
        Block fresh(100, 100);
        gcode::DrawLine(fresh.block, c.a, c.b, 0xFF000000);
        EXPECT_NEAR(fresh.Count(0xFF000000), c.pixels, 1) << c.a.x << "," << c.a.y;
    }
}

} // namespace

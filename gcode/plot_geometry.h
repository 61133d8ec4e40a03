// The toolpath plot without a window: the pen, the fit rule, and one program row turned into
// one coloured segment in the plot's logical units (x to the right, y downwards, the box
// 4635 units across at start-up).
#pragma once

#include "gcode/extent.h"

#include <cstdint>
#include <optional>

namespace gcode {

// Where the program origin (the machine position at load time) sits in the box: 60 units
// right of the left edge, 80 units above the bottom.
inline constexpr double PlotOriginX = 60;
inline constexpr double PlotOriginY = 4555;
inline constexpr double BasePlotScale = 19.2; // units per millimetre
inline constexpr double StartupLogicalSize = 4635;

// Colours as 0xBBGGRR numbers.
inline constexpr std::uint32_t PlotBlue = 0xFF0000;  // rapid rows of a run
inline constexpr std::uint32_t PlotRed = 0x0000FF;   // feed rows while PassToggle is 0
inline constexpr std::uint32_t PlotBlack = 0x000000; // feed rows while PassToggle is 1
inline constexpr std::uint32_t PlotGreen = 0x00FF00; // feed rows of the preview pass

struct PlotPen {
    double PlotX = 50;
    double PlotY = 3500;
    double PrevPlotX = 50;
    double PrevPlotY = 3500;
    double PlotScale = BasePlotScale;
    double LastCutZ = 0; // lowest Z since the last rapid row (mm)
    int PassToggle = 0;  // 0 red, 1 black

    // Pen to the program origin for both points, as every load and run start does.
    void ToOrigin();
};

// The fit rule: with scale-to-fit the larger extent spans 235 mm worth of units (4512 units);
// an extent that is not a positive number keeps the base scale.
double FitPlotScale(const Extent& xExtent, const Extent& yExtent, bool scaleToFit);

// The plot reset of a run start, without the erase (the box does that): pen to the origin,
// the scale by the fit rule, the pass colouring started at the Z shown now.
void ResetPlot(PlotPen& pen, const Extent& xExtent, const Extent& yExtent, bool scaleToFit,
               double zShownMm);

// The run's pass colouring, one row at a time: a rapid row starts the first colour again at its
// Z; a feed row that reaches below the lowest Z since starts the next pass in the other colour.
void NextPass(double& lastCutZ, int& passToggle, bool rapid, double zMm);

struct PlotRowInput {
    double xDistanceMm = 0; // unsigned distances of the row (empty distance text: 0)
    double yDistanceMm = 0;
    int xDirection = 0; // direction bits as sent, after inversion
    int yDirection = 0;
    bool inverseX = false;
    bool inverseY = false;
    bool rapid = false;  // motion code "G00 "
    double zShownMm = 0; // the Z display after the row was planned
    // The preview pass draws feed rows in green and rapid rows not at all; a live or simulated
    // run draws every row in its pass colour.
    bool preview = true;
};

struct PlotSegment {
    double x0 = 0;
    double y0 = 0;
    double x1 = 0;
    double y1 = 0;
    std::uint32_t colour = PlotGreen;

    friend bool operator==(const PlotSegment&, const PlotSegment&) = default;
};

// Moves the pen by the row and returns the segment to draw, if any: rapid rows of a preview
// move the pen but draw nothing. Moves towards larger X go right and towards larger Y go up,
// whatever the inversion settings.
std::optional<PlotSegment> PlotRow(PlotPen& pen, const PlotRowInput& row);

// The part of a segment inside the box 0..logicalSize in both directions, if any.
std::optional<PlotSegment> ClipToBox(const PlotSegment& segment, double logicalSize);

} // namespace gcode

#include "gcode/plot_geometry.h"

#include <cmath>

namespace gcode {

void PlotPen::ToOrigin() {
    PlotX = PrevPlotX = PlotOriginX;
    PlotY = PrevPlotY = PlotOriginY;
}

double FitPlotScale(const Extent& xExtent, const Extent& yExtent, bool scaleToFit) {
    if (!scaleToFit) {
        return BasePlotScale;
    }
    const Extent& larger = xExtent.Greater(yExtent) ? xExtent : yExtent;
    const std::optional<double> e = larger.Number();
    // A zero, negative or unreadable extent would give an infinite or mirrored plot.
    if (!e || !(*e > 0) || !std::isfinite(*e)) {
        return BasePlotScale;
    }
    return BasePlotScale * (235.0 / *e);
}

void ResetPlot(PlotPen& pen, const Extent& xExtent, const Extent& yExtent, bool scaleToFit,
               double zShownMm) {
    pen.ToOrigin();
    pen.PlotScale = FitPlotScale(xExtent, yExtent, scaleToFit);
    pen.LastCutZ = zShownMm;
    pen.PassToggle = 0;
}

void NextPass(double& lastCutZ, int& passToggle, bool rapid, double zMm) {
    if (rapid) {
        lastCutZ = zMm;
        passToggle = 0;
    } else if (lastCutZ > zMm) {
        lastCutZ = zMm;
        passToggle = 1 - passToggle;
    }
}

std::optional<PlotSegment> PlotRow(PlotPen& pen, const PlotRowInput& row) {
    pen.PrevPlotX = pen.PlotX;
    pen.PrevPlotY = pen.PlotY;
    // An inverted axis sends the opposite bit for the same move, so the bit that means
    // "towards larger X" flips with it.
    const int xTowardsLarger = row.inverseX ? 0 : 1;
    pen.PlotX += (row.xDirection == xTowardsLarger ? 1 : -1) * pen.PlotScale * row.xDistanceMm;
    const int yTowardsLarger = row.inverseY ? 0 : 1;
    pen.PlotY += (row.yDirection == yTowardsLarger ? -1 : 1) * pen.PlotScale * row.yDistanceMm;

    PlotSegment segment{pen.PrevPlotX, pen.PrevPlotY, pen.PlotX, pen.PlotY, PlotGreen};
    if (row.preview) {
        if (row.rapid) {
            return std::nullopt;
        }
        return segment;
    }
    NextPass(pen.LastCutZ, pen.PassToggle, row.rapid, row.zShownMm);
    if (row.rapid) {
        segment.colour = PlotBlue;
        return segment;
    }
    segment.colour = pen.PassToggle == 0 ? PlotRed : PlotBlack;
    return segment;
}

std::optional<PlotSegment> ClipToBox(const PlotSegment& segment, double logicalSize) {
    const auto inside = [logicalSize](double v) { return v >= 0 && v <= logicalSize; };
    if (inside(segment.x0) && inside(segment.y0) && inside(segment.x1) && inside(segment.y1)) {
        return segment; // the usual case: nothing to cut
    }
    // Liang-Barsky: keep the parameter range of the segment inside all four edges.
    const double dx = segment.x1 - segment.x0;
    const double dy = segment.y1 - segment.y0;
    double t0 = 0;
    double t1 = 1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {segment.x0, logicalSize - segment.x0, segment.y0,
                         logicalSize - segment.y0};
    for (int i = 0; i < 4; ++i) {
        if (!std::isfinite(p[i]) || !std::isfinite(q[i])) {
            return std::nullopt;
        }
        if (p[i] == 0) {
            if (q[i] < 0) {
                return std::nullopt;
            }
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0) {
            if (t > t1) {
                return std::nullopt;
            }
            if (t > t0) {
                t0 = t;
            }
        } else {
            if (t < t0) {
                return std::nullopt;
            }
            if (t < t1) {
                t1 = t;
            }
        }
    }
    PlotSegment clipped = segment;
    if (t0 > 0) {
        clipped.x0 = segment.x0 + t0 * dx;
        clipped.y0 = segment.y0 + t0 * dy;
    }
    if (t1 < 1) {
        clipped.x1 = segment.x0 + t1 * dx;
        clipped.y1 = segment.y0 + t1 * dy;
    }
    return clipped;
}

} // namespace gcode

// How the toolpath view looks at the path, without a window: which side it looks from, where,
// and how close, and what follows from it (where a point lands on the screen, which row a click
// is near, how long the scale bar is).
//
// The screen runs x to the right and y downwards in pixels. The top view shows X to the right and
// Y upwards; the front view X and Z, the side view Y and Z; the 3D view turns about Z and tilts.
#pragma once

#include "gcode/toolpath.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace gcode {

enum class ViewKind : std::uint8_t { Top, Front, Side, Turned };

struct ScreenPoint {
    double x = 0;
    double y = 0;
};

// Pixels per millimetre the view may zoom between.
inline constexpr double MinViewScale = 1e-3;
inline constexpr double MaxViewScale = 1e4;

struct ViewCamera {
    ViewKind kind = ViewKind::Top;
    double yawDegrees = -35;        // the 3D view's turn about Z, 0 looking along +Y
    double pitchDegrees = 30;       // its tilt: 0 looking level, 90 looking straight down
    double scale = 1;               // pixels per mm
    std::array<double, 3> centre{}; // the point shown at the middle of the screen
    double width = 1;               // the screen, in pixels
    double height = 1;

    // The screen's right and up directions in the machine's frame (unit vectors).
    std::array<double, 3> Right() const;
    std::array<double, 3> Up() const;
    ScreenPoint Project(const std::array<double, 3>& p) const;
    // The point under a screen point, in the plane through the centre that faces the viewer.
    // In the top, front and side views its two shown axes are exact.
    std::array<double, 3> Unproject(ScreenPoint s) const;

    // The same view of another side: where it looked and how close stay.
    void Show(ViewKind view) { kind = view; }
    // Zooms by `factor` keeping the point under `at` where it is.
    void ZoomAbout(ScreenPoint at, double factor);
    // Moves what is shown by a drag of (dx, dy) pixels.
    void PanBy(double dx, double dy);
    // Turns the 3D view by a right-button drag of (dx, dy) pixels (from another view it starts
    // from that view's own direction).
    void Orbit(double dx, double dy);
    // Shows all of `box` and `also` with `marginPx` to spare on each side.
    void Fit(const PathBox& box, const std::array<double, 3>& also, double marginPx);
    // True when all of `box` lands on the screen.
    bool Shows(const PathBox& box) const;
};

// The first view of a loaded program: the top view as the plot box always drew it (the origin
// 60 units in from the left and 80 up from the bottom of a square box `logicalSize` units
// across, at `unitsPerMm`; the screen's shorter side stands for the box), unless part of the
// program or its origin would fall outside; then the view that fits them all.
ViewCamera FirstView(const PathBox& box, double width, double height, double logicalSize,
                     double unitsPerMm);

// A scale bar: the longest round length (1, 2 or 5 times a power of ten, in mm) at most
// `maxPixels` long on the screen, and its text ("10 mm", "0.5 mm", "2 m").
struct ScaleBar {
    double mm = 0;
    double pixels = 0;
    std::string text;
};
ScaleBar ScaleBarFor(double pixelsPerMm, double maxPixels);

// The row of the move nearest to a screen point, if one passes within `radiusPx`; rapids count
// only when `withRapids`. The last of equally near moves wins: it is the one drawn on top.
std::optional<std::size_t> RowNear(const Toolpath& path, const ViewCamera& camera, ScreenPoint at,
                                   double radiusPx, bool withRapids);

// A point's coordinates in the view's own axes, for the hover text: "X 12.500  Y -3.000" in
// the top view, X and Z in the front view, Y and Z in the side view; none in the 3D view.
std::string HoverText(const ViewCamera& camera, ScreenPoint at);

// The three sizes of the extents box: "120.000 x 80.000 x 12.500 mm".
std::string SizeText(const PathBox& box);

} // namespace gcode

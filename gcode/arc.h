// Circular and helical arcs (G2, G3) as the machine cuts them: straight moves between vertices
// on the arc, no farther from it than the arc tolerance.
//
// Positions are in mm in the load frame (X, Y, Z), as doubles; the caller rounds vertices to the
// thousandths the displays show. The plane's two axes are (u, v) and the third axis moves
// linearly with the angle (a helix when it moves at all):
//   G17: u = X, v = Y, across Z.   G18: u = Z, v = X, across Y.   G19: u = Y, v = Z, across X.
// So in every plane a positive angle turns counter-clockwise as seen from the positive end of
// the axis across it: G3 turns positive, G2 negative.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gcode {

enum class Plane : std::uint8_t { XY = 17, ZX = 18, YZ = 19 };

// The arc tolerance: the most a chord (vertices rounded to thousandths included) may stray from
// the arc. The default, and the range the operator may set.
inline constexpr double DefaultArcToleranceMm = 0.002;
inline constexpr double MinArcToleranceMm = 0.001;
inline constexpr double MaxArcToleranceMm = 0.1;

// The tolerance a text gives: its number when it is one from the minimum to the maximum.
std::optional<double> ArcToleranceOf(std::string_view text);

// The most segments one arc may become; beyond, the arc is refused (a radius of a kilometre at
// a thousandth of a millimetre is a mistyped number, not a part).
inline constexpr std::size_t MaxArcSegments = 65536;

struct Arc {
    Plane plane = Plane::XY;
    std::array<double, 3> start{}; // X, Y, Z
    std::array<double, 3> end{};   // exactly the programmed end
    double centreU = 0;            // the centre in the plane's (u, v)
    double centreV = 0;
    double startRadius = 0; // |start - centre| in the plane
    double endRadius = 0;   // |end - centre|: the radius changes linearly with the angle
    double startAngle = 0;  // of start - centre, radians, atan2(v, u)
    double sweep = 0;       // signed, radians: > 0 for G3, < 0 for G2, full turns included

    friend bool operator==(const Arc&, const Arc&) = default;
};

// Why an arc cannot be cut, in the operator's words (the caller adds the file line).
struct ArcRefusal {
    std::string message;
};

// G2/G3 with I, J, K: `centre` holds the centre's absolute X, Y, Z (the caller has added I, J,
// K to the start for incremental arc centres); only the plane's two axes of it are read. A start
// equal to the end in the plane (within a nanometre) is a full circle, a helix when the third
// axis moves. `turns` (the P word, at least 1) adds a full turn for each turn above 1. Refused:
// a P below 1, a centre on the start or end point (radius 0: within a nanometre), and start and
// end radii that differ by more than 0.5 mm, or by more than 0.005 mm and 0.1 % of the start's
// radius. Within that the end may lie off the circle: the arc is a spiral onto it.
std::optional<Arc> ArcFromCentre(const std::array<double, 3>& start,
                                 const std::array<double, 3>& end,
                                 const std::array<double, 3>& centre, Plane plane, bool clockwise,
                                 int turns, ArcRefusal& refusal);

// G2/G3 with R: the centre on the side that makes the arc at most half a turn for R > 0, more
// than half a turn for R < 0; `turns` as above. Refused: a P below 1, R = 0, a start equal to
// the end in the plane, and a chord longer than 2 |R| by more than the peer interpreters allow
// for rounding: 0.001 mm or 0.1 % of 2 |R|, whichever is larger. Within that allowance the
// chord's midpoint is the centre (a half turn).
std::optional<Arc> ArcFromRadius(const std::array<double, 3>& start,
                                 const std::array<double, 3>& end, double radius, Plane plane,
                                 bool clockwise, int turns, ArcRefusal& refusal);

// How many straight segments the arc becomes at this tolerance (in mm, between the minimum and
// maximum above; one outside is taken as the nearest of them): the fewest for which every
// chord, its vertices rounded to thousandths, stays within the tolerance of the arc, whichever
// way the rounding falls; at least one, and at least one per quarter turn. None above
// MaxArcSegments. Constant time, whatever the count.
std::optional<std::size_t> ArcSegmentCount(const Arc& arc, double toleranceMm);

// Vertex k of n (0 .. n): the start for k = 0, exactly the end for k = n, otherwise the point at
// k/n of the sweep (the radius and the third axis in proportion).
std::array<double, 3> ArcVertex(const Arc& arc, std::size_t k, std::size_t n);

// Vertices 1, 2, ... of n in order, as ArcVertex gives them to within a few units of their last
// place, at a fraction of the cost: the angle advances by a rotation, set afresh from its sine
// and cosine every 64 vertices so that the rounding cannot build up.
class ArcWalk {
public:
    ArcWalk(const Arc& arc, std::size_t n);
    std::array<double, 3> Next();

private:
    const Arc& arc_;
    std::size_t n_;
    std::size_t k_ = 0;
    double cos_ = 0, sin_ = 0;         // of the angle of vertex k_
    double stepCos_ = 1, stepSin_ = 0; // of the angle between two vertices
};

} // namespace gcode

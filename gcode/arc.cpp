#include "gcode/arc.h"

#include "encoding/number_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <utility>

namespace gcode {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kFullTurn = 2 * kPi;

// Points closer than a nanometre are one point: no direction lies between them, so a centre
// there has no radius and an end there is no chord.
constexpr double kSamePointMm = 1e-6;

// How far the end may lie off the circle the start and centre make before the arc is refused:
// never beyond kRadiiApartMm, and beyond kRadiiApartSmallMm only within kRadiiApartShare of the
// radius. Within these the arc is cut as a spiral onto the programmed end.
constexpr double kRadiiApartMm = 0.5;
constexpr double kRadiiApartSmallMm = 0.005;
constexpr double kRadiiApartShare = 0.001;

// How much longer than the diameter an R arc's chord may be, as rounding of its numbers,
// whichever of the two is larger; the arc is then the half circle on the chord.
constexpr double kChordBeyondDiameterMm = 0.001;
constexpr double kChordBeyondDiameterShare = 0.001;

// Rounding a coordinate to thousandths moves it by at most this.
constexpr double kHalfThousandthMm = 0.0005;

// The coordinates of a plane's (u, v) and of the axis across it, as indices into X, Y, Z.
struct PlaneAxes {
    std::size_t u, v, across;
};

PlaneAxes AxesOf(Plane plane) {
    switch (plane) {
    case Plane::ZX:
        return {2, 0, 1};
    case Plane::YZ:
        return {1, 2, 0};
    case Plane::XY:
        break;
    }
    return {0, 1, 2};
}

std::string Mm(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f mm", value);
    return text;
}

std::optional<Arc> Refuse(ArcRefusal& refusal, std::string message) {
    refusal.message = std::move(message);
    return std::nullopt;
}

// The refusals both formats share: a P below 1, and numbers no arc can be made of.
bool Acceptable(const std::array<double, 3>& start, const std::array<double, 3>& end, int turns,
                ArcRefusal& refusal) {
    if (turns < 1) {
        refusal.message = "The arc's number of turns (P) must be at least 1.";
        return false;
    }
    for (std::size_t axis = 0; axis < 3; ++axis) {
        if (!std::isfinite(start[axis]) || !std::isfinite(end[axis])) {
            refusal.message = "The arc's coordinates are not numbers a machine can reach.";
            return false;
        }
    }
    return true;
}

// A turn of `size` in (0, 2 pi] made the programmed way round, with the extra full turns of P.
double Directed(double size, bool clockwise, int turns) {
    const double sweep = size + kFullTurn * (turns - 1);
    return clockwise ? -sweep : sweep;
}

Arc MakeArc(const std::array<double, 3>& start, const std::array<double, 3>& end, Plane plane,
            double centreU, double centreV, double sweep) {
    const PlaneAxes axes = AxesOf(plane);
    Arc arc;
    arc.plane = plane;
    arc.start = start;
    arc.end = end;
    arc.centreU = centreU;
    arc.centreV = centreV;
    arc.startRadius = std::hypot(start[axes.u] - centreU, start[axes.v] - centreV);
    arc.endRadius = std::hypot(end[axes.u] - centreU, end[axes.v] - centreV);
    arc.startAngle = std::atan2(start[axes.v] - centreV, start[axes.u] - centreU);
    arc.sweep = sweep;
    return arc;
}

} // namespace

std::optional<Arc> ArcFromCentre(const std::array<double, 3>& start,
                                 const std::array<double, 3>& end,
                                 const std::array<double, 3>& centre, Plane plane, bool clockwise,
                                 int turns, ArcRefusal& refusal) {
    if (!Acceptable(start, end, turns, refusal)) {
        return std::nullopt;
    }
    const PlaneAxes axes = AxesOf(plane);
    const double centreU = centre[axes.u];
    const double centreV = centre[axes.v];
    const double startU = start[axes.u] - centreU;
    const double startV = start[axes.v] - centreV;
    const double endU = end[axes.u] - centreU;
    const double endV = end[axes.v] - centreV;
    const double startRadius = std::hypot(startU, startV);
    const double endRadius = std::hypot(endU, endV);
    if (!std::isfinite(startRadius) || !std::isfinite(endRadius)) {
        return Refuse(refusal, "The arc's centre is not a point a machine can reach.");
    }
    if (startRadius < kSamePointMm) {
        return Refuse(refusal, "The arc's centre lies on its start point.");
    }
    if (endRadius < kSamePointMm) {
        return Refuse(refusal, "The arc's centre lies on its end point.");
    }
    const double radiiApart = std::abs(endRadius - startRadius);
    if (radiiApart > kRadiiApartMm ||
        (radiiApart > kRadiiApartSmallMm && radiiApart > kRadiiApartShare * startRadius)) {
        return Refuse(refusal, "The arc's end is not on its circle: the centre is " +
                                   Mm(startRadius) + " from the start but " + Mm(endRadius) +
                                   " from the end.");
    }
    // The turn from start to end, taken from their cross and dot products: exact for tiny
    // and for half turns alike. An end on the start is a full turn.
    double size = kFullTurn;
    if (std::hypot(end[axes.u] - start[axes.u], end[axes.v] - start[axes.v]) >= kSamePointMm) {
        const double turn =
            std::atan2(startU * endV - startV * endU, startU * endU + startV * endV);
        if (clockwise) {
            size = turn < 0 ? -turn : kFullTurn - turn;
        } else {
            size = turn > 0 ? turn : kFullTurn + turn;
        }
    }
    return MakeArc(start, end, plane, centreU, centreV, Directed(size, clockwise, turns));
}

std::optional<Arc> ArcFromRadius(const std::array<double, 3>& start,
                                 const std::array<double, 3>& end, double radius, Plane plane,
                                 bool clockwise, int turns, ArcRefusal& refusal) {
    if (!Acceptable(start, end, turns, refusal)) {
        return std::nullopt;
    }
    if (!std::isfinite(radius)) {
        return Refuse(refusal, "The arc's radius (R) is not a number a machine can reach.");
    }
    if (radius == 0) {
        return Refuse(refusal, "The arc's radius (R) must not be 0.");
    }
    const PlaneAxes axes = AxesOf(plane);
    const double chordU = end[axes.u] - start[axes.u];
    const double chordV = end[axes.v] - start[axes.v];
    const double chord = std::hypot(chordU, chordV);
    if (chord < kSamePointMm) {
        return Refuse(refusal, "An arc with a radius (R) cannot end where it starts; give its "
                               "centre (I, J, K) for a full circle.");
    }
    const double circleRadius = std::abs(radius);
    const double halfChord = chord / 2;
    const double beyondDiameter = chord - 2 * circleRadius;
    if (beyondDiameter >
        std::max(kChordBeyondDiameterMm, kChordBeyondDiameterShare * 2 * circleRadius)) {
        return Refuse(refusal, "The arc's end is out of reach: it lies " + Mm(chord) +
                                   " from the start, more than twice the radius of " +
                                   Mm(circleRadius) + ".");
    }
    // The centre lies on the chord's perpendicular bisector: left of the chord for a short
    // counter-clockwise arc or a long clockwise one, right of it otherwise.
    const double fromMidpoint =
        halfChord < circleRadius
            ? std::sqrt((circleRadius - halfChord) * (circleRadius + halfChord))
            : 0.0;
    const bool left = clockwise == (radius < 0);
    const double side = left ? fromMidpoint / chord : -fromMidpoint / chord;
    const double centreU = start[axes.u] + chordU / 2 - chordV * side;
    const double centreV = start[axes.v] + chordV / 2 + chordU * side;
    const double shortSize = 2 * std::atan2(halfChord, fromMidpoint);
    const double size = radius > 0 ? shortSize : kFullTurn - shortSize;
    return MakeArc(start, end, plane, centreU, centreV, Directed(size, clockwise, turns));
}

// The bound. Cut the sweep into n equal steps of theta = |sweep| / n. Between two neighbouring
// vertices the arc is S(phi), phi in [0, theta], and the chord C(lambda), lambda in [0, 1],
// runs straight from S(0) to S(theta). Pair each chord point with the arc point at the same
// share: D(lambda) = C(lambda) - S(lambda theta) is 0 at both ends and D'' = -theta^2 S'', so
// |D| <= theta^2 max|S''| / 8. The third axis moves in proportion on both, so D lies in the
// plane, where S = r e_r with r changing by c = |endRadius - startRadius| / |sweep| per radian:
// |S''| = |-r e_r + 2c e_phi| <= M = sqrt(rMax^2 + 4c^2), the larger radius and, for a spiral,
// a hair more. Rounding moves each vertex by at most h = 0.0005 in each coordinate, and so
// every chord point, a mix of its two vertices, stays inside the same box: at most h sqrt(2)
// in the plane and `acrossMm` across it (h when the third axis moves, otherwise what rounding
// does to its one value). Each rounded chord point and the arc point paired with it are then
// at most
//     sqrt((M theta^2 / 8 + h sqrt(2))^2 + acrossMm^2)
// apart, which bounds the stray both ways: chord to arc and arc to chord. The tolerance covers
// it when
//     theta <= sqrt(8 (sqrt(tolerance^2 - acrossMm^2) - h sqrt(2)) / M),
// the bracket being the sagitta left once rounding has had its share: 0.00016 mm at the
// smallest tolerance for a helix, 0.00029 mm for a flat arc.
std::optional<std::size_t> ArcSegmentCount(const Arc& arc, double toleranceMm) {
    if (!(toleranceMm >= MinArcToleranceMm)) {
        toleranceMm = MinArcToleranceMm;
    }
    toleranceMm = std::min(toleranceMm, MaxArcToleranceMm);
    const double sweep = std::abs(arc.sweep);
    const double largerRadius = std::max(std::abs(arc.startRadius), std::abs(arc.endRadius));
    if (!std::isfinite(sweep) || !std::isfinite(largerRadius)) {
        return std::nullopt;
    }
    const PlaneAxes axes = AxesOf(arc.plane);
    double acrossMm = kHalfThousandthMm;
    if (arc.start[axes.across] == arc.end[axes.across]) {
        const double across = arc.start[axes.across];
        acrossMm = std::min(acrossMm, std::abs(across - std::round(across * 1000) / 1000));
    }
    const double sagittaMm = std::sqrt(toleranceMm * toleranceMm - acrossMm * acrossMm) -
                             kHalfThousandthMm * std::numbers::sqrt2;
    const double radiusChangePerRadian =
        sweep > 0 ? std::abs(arc.endRadius - arc.startRadius) / sweep : 0.0;
    const double bendMm = std::hypot(largerRadius, 2 * radiusChangePerRadian);
    // A count a billionth over a whole number is rounding, not another quarter.
    const double quarterTurns = std::ceil(sweep / (kPi / 2) * (1 - 1e-9));
    const double withinTolerance = std::ceil(sweep * std::sqrt(bendMm / (8 * sagittaMm)));
    const double segments = std::max({1.0, quarterTurns, withinTolerance});
    if (!(segments <= static_cast<double>(MaxArcSegments))) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(segments);
}

std::array<double, 3> ArcVertex(const Arc& arc, std::size_t k, std::size_t n) {
    if (k >= n) {
        return arc.end;
    }
    if (k == 0) {
        return arc.start;
    }
    const double share = static_cast<double>(k) / static_cast<double>(n);
    const double angle = arc.startAngle + arc.sweep * share;
    const double radius = arc.startRadius + (arc.endRadius - arc.startRadius) * share;
    const PlaneAxes axes = AxesOf(arc.plane);
    std::array<double, 3> vertex{};
    vertex[axes.u] = arc.centreU + radius * std::cos(angle);
    vertex[axes.v] = arc.centreV + radius * std::sin(angle);
    vertex[axes.across] =
        arc.start[axes.across] + (arc.end[axes.across] - arc.start[axes.across]) * share;
    return vertex;
}

ArcWalk::ArcWalk(const Arc& arc, std::size_t n) : arc_(arc), n_(std::max<std::size_t>(n, 1)) {
    const double step = arc.sweep / static_cast<double>(n_);
    stepCos_ = std::cos(step);
    stepSin_ = std::sin(step);
}

std::array<double, 3> ArcWalk::Next() {
    ++k_;
    if (k_ >= n_) {
        return arc_.end;
    }
    const double share = static_cast<double>(k_) / static_cast<double>(n_);
    if (k_ % 64 == 1) {
        const double angle = arc_.startAngle + arc_.sweep * share;
        cos_ = std::cos(angle);
        sin_ = std::sin(angle);
    } else {
        const double c = cos_ * stepCos_ - sin_ * stepSin_;
        sin_ = sin_ * stepCos_ + cos_ * stepSin_;
        cos_ = c;
    }
    const double radius = arc_.startRadius + (arc_.endRadius - arc_.startRadius) * share;
    const PlaneAxes axes = AxesOf(arc_.plane);
    std::array<double, 3> vertex{};
    vertex[axes.u] = arc_.centreU + radius * cos_;
    vertex[axes.v] = arc_.centreV + radius * sin_;
    vertex[axes.across] =
        arc_.start[axes.across] + (arc_.end[axes.across] - arc_.start[axes.across]) * share;
    return vertex;
}

std::optional<double> ArcToleranceOf(std::string_view text) {
    const std::optional<double> mm = encoding::NumberOf(text);
    if (!mm || *mm < MinArcToleranceMm || *mm > MaxArcToleranceMm) {
        return std::nullopt;
    }
    return mm;
}

} // namespace gcode

#include "gcode/view_camera.h"

#include "gcode/plot_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace gcode {

namespace {

using Vec = std::array<double, 3>;

double Dot(const Vec& a, const Vec& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vec Plus(const Vec& a, const Vec& b, double k) {
    return {a[0] + b[0] * k, a[1] + b[1] * k, a[2] + b[2] * k};
}

double Radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

// "12.5", "0.25", "100": a round length without trailing zeros.
std::string Trimmed(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", value);
    std::string text(buf);
    while (!text.empty() && text.back() == '0') {
        text.pop_back();
    }
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

} // namespace

Vec ViewCamera::Right() const {
    switch (kind) {
    case ViewKind::Top:
    case ViewKind::Front:
        return {1, 0, 0};
    case ViewKind::Side:
        return {0, 1, 0};
    case ViewKind::Turned:
        break;
    }
    const double yaw = Radians(yawDegrees);
    return {std::cos(yaw), std::sin(yaw), 0};
}

Vec ViewCamera::Up() const {
    switch (kind) {
    case ViewKind::Top:
        return {0, 1, 0};
    case ViewKind::Front:
    case ViewKind::Side:
        return {0, 0, 1};
    case ViewKind::Turned:
        break;
    }
    // Level, up is Z; looking straight down, up is the way the view faces.
    const double yaw = Radians(yawDegrees);
    const double pitch = Radians(pitchDegrees);
    return {-std::sin(yaw) * std::sin(pitch), std::cos(yaw) * std::sin(pitch), std::cos(pitch)};
}

ScreenPoint ViewCamera::Project(const Vec& p) const {
    const Vec d{p[0] - centre[0], p[1] - centre[1], p[2] - centre[2]};
    return {width / 2 + scale * Dot(d, Right()), height / 2 - scale * Dot(d, Up())};
}

Vec ViewCamera::Unproject(ScreenPoint s) const {
    const Vec across = Plus(centre, Right(), (s.x - width / 2) / scale);
    return Plus(across, Up(), (height / 2 - s.y) / scale);
}

void ViewCamera::ZoomAbout(ScreenPoint at, double factor) {
    const Vec fixed = Unproject(at);
    scale = std::clamp(scale * factor, MinViewScale, MaxViewScale);
    const Vec across = Plus(fixed, Right(), -(at.x - width / 2) / scale);
    centre = Plus(across, Up(), -(height / 2 - at.y) / scale);
}

void ViewCamera::PanBy(double dx, double dy) {
    centre = Plus(Plus(centre, Right(), -dx / scale), Up(), dy / scale);
}

void ViewCamera::Orbit(double dx, double dy) {
    switch (kind) {
    case ViewKind::Top:
        yawDegrees = 0;
        pitchDegrees = 90;
        break;
    case ViewKind::Front:
        yawDegrees = 0;
        pitchDegrees = 0;
        break;
    case ViewKind::Side:
        yawDegrees = 90;
        pitchDegrees = 0;
        break;
    case ViewKind::Turned:
        break;
    }
    kind = ViewKind::Turned;
    yawDegrees = std::remainder(yawDegrees - dx * 0.4, 360.0);
    pitchDegrees = std::clamp(pitchDegrees + dy * 0.4, -90.0, 90.0);
}

void ViewCamera::Fit(const PathBox& box, const Vec& also, double marginPx) {
    PathBox all = box;
    all.Add(also);
    const Vec right = Right();
    const Vec up = Up();
    double uMin = 0, uMax = 0, vMin = 0, vMax = 0;
    bool first = true;
    for (const Vec& corner : all.Corners()) {
        const double u = Dot(corner, right);
        const double v = Dot(corner, up);
        uMin = first ? u : std::min(uMin, u);
        uMax = first ? u : std::max(uMax, u);
        vMin = first ? v : std::min(vMin, v);
        vMax = first ? v : std::max(vMax, v);
        first = false;
    }
    const double across = std::max(width - 2 * marginPx, 1.0);
    const double down = std::max(height - 2 * marginPx, 1.0);
    const double du = uMax - uMin;
    const double dv = vMax - vMin;
    if (du > 0 || dv > 0) {
        scale = std::clamp(std::min(du > 0 ? across / du : 1e300, dv > 0 ? down / dv : 1e300),
                           MinViewScale, MaxViewScale);
    }
    const Vec middle{(all.min[0] + all.max[0]) / 2, (all.min[1] + all.max[1]) / 2,
                     (all.min[2] + all.max[2]) / 2};
    // Along the line of sight the centre stays in the box's middle; across it, the middle of
    // what is shown.
    centre = Plus(Plus(middle, right, (uMin + uMax) / 2 - Dot(middle, right)), up,
                  (vMin + vMax) / 2 - Dot(middle, up));
}

bool ViewCamera::Shows(const PathBox& box) const {
    if (box.empty) {
        return true;
    }
    const double slack = 1e-6;
    const std::array<Vec, 8> corners = box.Corners();
    return std::all_of(corners.begin(), corners.end(), [&](const Vec& corner) {
        const ScreenPoint s = Project(corner);
        return s.x >= -slack && s.x <= width + slack && s.y >= -slack && s.y <= height + slack;
    });
}

ViewCamera FirstView(const PathBox& box, double width, double height, double logicalSize,
                     double unitsPerMm) {
    ViewCamera camera;
    camera.width = width;
    camera.height = height;
    // The plot box was square: the screen's shorter side stands for it, in its lower left.
    const double side = std::min(width, height);
    camera.scale = unitsPerMm * side / logicalSize;
    const ScreenPoint origin{PlotOriginX * side / logicalSize,
                             height - (logicalSize - PlotOriginY) * side / logicalSize};
    camera.centre = {(width / 2 - origin.x) / camera.scale, (origin.y - height / 2) / camera.scale,
                     0};
    PathBox withOrigin = box;
    withOrigin.Add({0, 0, 0});
    if (!camera.Shows(withOrigin)) {
        camera.Fit(box, {0, 0, 0}, std::min(width, height) / 20);
    }
    return camera;
}

ScaleBar ScaleBarFor(double pixelsPerMm, double maxPixels) {
    ScaleBar bar;
    if (!(pixelsPerMm > 0) || !(maxPixels > 0)) {
        return bar;
    }
    const double longest = maxPixels / pixelsPerMm;
    const double power = std::pow(10.0, std::floor(std::log10(longest)));
    for (const double step : {5.0, 2.0, 1.0}) {
        if (step * power <= longest * (1 + 1e-9)) {
            bar.mm = step * power;
            break;
        }
    }
    bar.pixels = bar.mm * pixelsPerMm;
    bar.text = bar.mm >= 1000 ? Trimmed(bar.mm / 1000) + " m" : Trimmed(bar.mm) + " mm";
    return bar;
}

std::optional<std::size_t> RowNear(const Toolpath& path, const ViewCamera& camera, ScreenPoint at,
                                   double radiusPx, bool withRapids) {
    const std::span<const PathPoint> points = path.Points();
    if (path.MoveCount() == 0) {
        return std::nullopt;
    }
    const auto project = [&](const PathPoint& p) { return camera.Project({p.x, p.y, p.z}); };
    std::optional<std::size_t> best;
    double bestSquared = radiusPx * radiusPx;
    ScreenPoint from = project(points[0]);
    for (std::size_t k = 0; k < path.MoveCount(); ++k) {
        const ScreenPoint to = project(points[k + 1]);
        const bool counted = withRapids || (path.KindOf(k) & Toolpath::Rapid) == 0;
        if (counted && std::min(from.x, to.x) - radiusPx <= at.x &&
            std::max(from.x, to.x) + radiusPx >= at.x &&
            std::min(from.y, to.y) - radiusPx <= at.y &&
            std::max(from.y, to.y) + radiusPx >= at.y) {
            const double dx = to.x - from.x;
            const double dy = to.y - from.y;
            const double length = dx * dx + dy * dy;
            const double t =
                length > 0
                    ? std::clamp(((at.x - from.x) * dx + (at.y - from.y) * dy) / length, 0.0, 1.0)
                    : 0.0;
            const double ex = from.x + t * dx - at.x;
            const double ey = from.y + t * dy - at.y;
            const double squared = ex * ex + ey * ey;
            if (squared <= bestSquared) {
                bestSquared = squared;
                best = path.RowOf(k);
            }
        }
        from = to;
    }
    return best;
}

std::string HoverText(const ViewCamera& camera, ScreenPoint at) {
    const Vec p = camera.Unproject(at);
    char buf[64];
    switch (camera.kind) {
    case ViewKind::Top:
        std::snprintf(buf, sizeof buf, "X %.3f  Y %.3f", p[0], p[1]);
        return buf;
    case ViewKind::Front:
        std::snprintf(buf, sizeof buf, "X %.3f  Z %.3f", p[0], p[2]);
        return buf;
    case ViewKind::Side:
        std::snprintf(buf, sizeof buf, "Y %.3f  Z %.3f", p[1], p[2]);
        return buf;
    case ViewKind::Turned:
        break;
    }
    return {};
}

std::string SizeText(const PathBox& box) {
    const Vec size = box.Size();
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.3f x %.3f x %.3f mm", size[0], size[1], size[2]);
    return buf;
}

} // namespace gcode

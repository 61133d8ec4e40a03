#include "gcode/path_raster.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace gcode {

namespace {

// Keeps the part of a..b inside [0, w] x [0, h]; false when nothing of it is.
bool Clip(ScreenPoint& a, ScreenPoint& b, double w, double h) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    double t0 = 0;
    double t1 = 1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x, w - a.x, a.y, h - a.y};
    for (int i = 0; i < 4; ++i) {
        if (!std::isfinite(p[i]) || !std::isfinite(q[i])) {
            return false;
        }
        if (p[i] == 0) {
            if (q[i] < 0) {
                return false;
            }
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0) {
            t0 = std::max(t0, t);
        } else {
            t1 = std::min(t1, t);
        }
        if (t0 > t1) {
            return false;
        }
    }
    const ScreenPoint start = a;
    a = {start.x + t0 * dx, start.y + t0 * dy};
    b = {start.x + t1 * dx, start.y + t1 * dy};
    return true;
}

} // namespace

void DrawLine(PixelBlock& block, ScreenPoint a, ScreenPoint b, std::uint32_t colour, bool dashed) {
    const int top = std::max(block.top, 0);
    const int bottom = std::min(block.bottom, block.height);
    // Wholly above or below the rows drawn in: nothing to walk.
    if (block.width <= 0 || bottom <= top || (a.y < top && b.y < top) ||
        (a.y >= bottom && b.y >= bottom)) {
        return;
    }
    const double right = block.width - 0.5;
    const double low = block.height - 0.5;
    const bool inside = a.x >= 0 && a.x <= right && b.x >= 0 && b.x <= right && a.y >= 0 &&
                        a.y <= low && b.y >= 0 && b.y <= low;
    // Clipped to the whole block whatever rows are drawn in, so that a line across two halves
    // drawn by two threads puts exactly the pixels one thread would.
    if (!inside && !Clip(a, b, right, low)) {
        return;
    }
    int x = static_cast<int>(std::floor(a.x));
    int y = static_cast<int>(std::floor(a.y));
    const int x1 = static_cast<int>(std::floor(b.x));
    const int y1 = static_cast<int>(std::floor(b.y));
    const int dx = std::abs(x1 - x);
    const int dy = -std::abs(y1 - y);
    const int sx = x < x1 ? 1 : -1;
    const int sy = y < y1 ? 1 : -1;
    int error = dx + dy;
    for (int step = 0;; ++step) {
        if ((!dashed || (step & 4) == 0) && x >= 0 && y >= top && x < block.width && y < bottom) {
            block.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(block.stride) +
                         static_cast<std::size_t>(x)] = colour;
        }
        if (x == x1 && y == y1) {
            return;
        }
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += sx;
        }
        if (twice <= dx) {
            error += dx;
            y += sy;
        }
    }
}

void DrawPath(const Toolpath& path, const ViewCamera& camera, std::size_t from, std::size_t to,
              std::size_t cutEnd, const PathColours& colours, PixelBlock& block,
              std::size_t every) {
    to = std::min(to, path.MoveCount());
    every = std::max<std::size_t>(every, 1);
    if (from >= to) {
        return;
    }
    // The projection written out once: the same sums as ViewCamera::Project, per point.
    const std::array<double, 3> right = camera.Right();
    const std::array<double, 3> up = camera.Up();
    const double ox = camera.width / 2 -
                      camera.scale * (right[0] * camera.centre[0] + right[1] * camera.centre[1] +
                                      right[2] * camera.centre[2]);
    const double oy =
        camera.height / 2 + camera.scale * (up[0] * camera.centre[0] + up[1] * camera.centre[1] +
                                            up[2] * camera.centre[2]);
    const double rx = camera.scale * right[0], ry = camera.scale * right[1],
                 rz = camera.scale * right[2];
    const double ux = camera.scale * up[0], uy = camera.scale * up[1], uz = camera.scale * up[2];
    const std::span<const PathPoint> points = path.Points();
    const auto project = [&](const PathPoint& p) {
        return ScreenPoint{ox + rx * p.x + ry * p.y + rz * p.z,
                           oy - ux * p.x - uy * p.y - uz * p.z};
    };
    // The pixel a point is in; points far off the screen share pixels, which only merges lines
    // that are not drawn anyway.
    const auto pixelOf = [](const ScreenPoint& s) {
        const auto floorOf = [](double v) {
            v = std::clamp(v, -1e9, 1e9);
            const auto i = static_cast<std::int64_t>(v);
            return i - (v < static_cast<double>(i) ? 1 : 0);
        };
        return std::pair{floorOf(s.x), floorOf(s.y)};
    };

    ScreenPoint start = project(points[from]);
    ScreenPoint anchor = start; // where the last line drawn ended
    std::uint32_t anchorColour = 0;
    bool onPath = false; // the last move was drawn or skipped as part of a line going on
    for (std::size_t next = from; next < to;) {
        const std::size_t k = std::min(next + every, to) - 1; // the last move of this step
        next = k + 1;
        const ScreenPoint end = project(points[k + 1]);
        const std::uint8_t kind = path.KindOf(k);
        const bool rapid = (kind & Toolpath::Rapid) != 0;
        if (rapid && !colours.rapids) {
            onPath = false;
            start = end;
            continue;
        }
        const bool cut = k < cutEnd;
        const std::uint32_t colour =
            rapid ? (cut ? colours.cutRapid : colours.uncutRapid)
                  : (!cut ? colours.uncutFeed
                          : ((kind & Toolpath::DeeperPass) != 0 ? colours.cutFeedDeeper
                                                                : colours.cutFeed));
        const bool goesOn = onPath && colour == anchorColour && !rapid;
        if (goesOn && pixelOf(end) == pixelOf(anchor)) {
            start = end;
            continue; // still in the pixel the last line ended in
        }
        DrawLine(block, goesOn ? anchor : start, end, colour, rapid);
        anchor = end;
        anchorColour = colour;
        onPath = true;
        start = end;
    }
}

} // namespace gcode

#include "bench/cam_gcode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace bench {
namespace {

class Writer {
public:
    Writer(std::string& out, std::size_t limit) : out_(out), limit_(limit) {}

    bool Full() const { return lines_ >= limit_; }

    template <class... Args> void Line(const char* format, Args... args) {
        if (Full()) {
            return;
        }
        char buf[96];
        const int n = std::snprintf(buf, sizeof buf, format, args...);
        out_.append(buf, static_cast<std::size_t>(n));
        out_.append("\r\n");
        ++lines_;
    }

    // A G-code line with the next block number.
    template <class... Args> void Block(const char* format, Args... args) {
        if (Full()) {
            return;
        }
        block_ += 10;
        char buf[96];
        std::snprintf(buf, sizeof buf, format, args...);
        Line("N%u %s", block_, buf);
    }

    std::size_t Lines() const { return lines_; }

private:
    std::string& out_;
    std::size_t limit_;
    std::size_t lines_ = 0;
    unsigned block_ = 0;
};

double clamp(double v, double lo, double hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

} // namespace

std::string GenerateCamGcode(std::size_t lineCount, std::uint64_t seed) {
    std::string out;
    out.reserve(lineCount * 20 + 64);
    // Four footer lines are kept back so that every file ends like a real one.
    const std::size_t footer = lineCount >= 12 ? 4 : 0;
    Writer w(out, lineCount - footer);
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);

    w.Line("%%");
    w.Line("(CAM-style test program, seed %llu)", static_cast<unsigned long long>(seed));
    w.Line("(Tool 1: 3.175 mm end mill)");
    w.Line("G21");
    w.Line("G90");
    w.Line("G17");
    w.Line("M03 S12000");

    double x = 100;
    double y = 100;
    int pass = 0;
    while (!w.Full()) {
        const double depth = 0.5 + 0.5 * static_cast<double>(pass % 6);
        w.Block("G00 Z5.000");
        x = clamp(x + (unit(random) - 0.5) * 40, 0, 200);
        y = clamp(y + (unit(random) - 0.5) * 40, 0, 200);
        w.Block("G00 X%.3f Y%.3f", x, y);
        w.Block("G01 Z-%.3f F100.0", depth);
        x = clamp(x + unit(random) * 2, 0, 200);
        w.Block("G01 X%.3f Y%.3f F600.0", x, y);
        const std::size_t run = 40 + static_cast<std::size_t>(unit(random) * 360);
        double heading = unit(random) * 6.283185307179586;
        for (std::size_t i = 0; i < run && !w.Full(); ++i) {
            heading += (unit(random) - 0.5) * 0.6;
            const double step = 0.2 + unit(random) * 1.8;
            x = clamp(x + step * std::cos(heading), 0, 200);
            y = clamp(y + step * std::sin(heading), 0, 200);
            w.Line("X%.3f Y%.3f", x, y);
        }
        ++pass;
        if (pass % 7 == 0) {
            w.Line("(pass %d)", pass);
        }
    }
    if (footer != 0) {
        Writer tail(out, footer);
        tail.Line("G00 Z5.000");
        tail.Line("M05");
        tail.Line("M30");
        tail.Line("%%");
    }
    return out;
}

std::string GenerateRealCamGcode(std::size_t lineCount, std::uint64_t seed) {
    std::string out;
    out.reserve(lineCount * 20 + 64);
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::size_t lines = 0;
    const auto line = [&](const char* format, auto... args) {
        char buf[128];
        const int n = std::snprintf(buf, sizeof buf, format, args...);
        out.append(buf, static_cast<std::size_t>(n));
        out.push_back('\n');
        ++lines;
    };
    const std::size_t body = lineCount > 8 ? lineCount - 3 : lineCount;
    line("(CAM program, seed %llu)", static_cast<unsigned long long>(seed));
    line("G90 G94 G17 G21");
    line("T1 M6");
    line("S12000 M3");
    double x = 100;
    double y = 100;
    int pass = 0;
    while (lines < body) {
        const double depth = 0.5 + 0.5 * static_cast<double>(pass % 6);
        line("G0 Z5.");
        x = clamp(x + (unit(random) - 0.5) * 40, 20, 180);
        y = clamp(y + (unit(random) - 0.5) * 40, 20, 180);
        line("G0 X%.3f Y%.3f", x, y);
        line("G1 Z-%.3f F100.", depth);
        x += 1;
        line("G1 X%.3f Y%.3f F600.", x, y);
        const std::size_t run = 40 + static_cast<std::size_t>(unit(random) * 360);
        double heading = unit(random) * 6.283185307179586;
        bool afterArc = false; // the next straight line names G1 again
        for (std::size_t i = 0; i < run && lines < body; ++i) {
            if (!afterArc && unit(random) < 0.3 && x > 8 && x < 192 && y > 8 && y < 192) {
                // An arc turning off the heading, to the left (G3) or the right (G2).
                const bool left = unit(random) < 0.5;
                const double r = 1 + unit(random) * 5;
                const double side = left ? 1.5707963267948966 : -1.5707963267948966;
                const double cx = x + r * std::cos(heading + side);
                const double cy = y + r * std::sin(heading + side);
                const double sweep = (0.2 + unit(random) * 1.3) * (left ? 1 : -1);
                const double a0 = std::atan2(y - cy, x - cx);
                const double ex = cx + r * std::cos(a0 + sweep);
                const double ey = cy + r * std::sin(a0 + sweep);
                // Each vertex written with three decimals, the centre words computed from them,
                // so the arc is exact on the written numbers.
                const double sx = std::round(x * 1000) / 1000;
                const double sy = std::round(y * 1000) / 1000;
                x = std::round(ex * 1000) / 1000;
                y = std::round(ey * 1000) / 1000;
                if (unit(random) < 0.5) {
                    line("G%d X%.3f Y%.3f I%.4f J%.4f", left ? 3 : 2, x, y, cx - sx, cy - sy);
                } else {
                    line("G%d X%.3f Y%.3f R%.4f", left ? 3 : 2, x, y, r);
                }
                heading += sweep;
                afterArc = true;
                continue;
            }
            heading += (unit(random) - 0.5) * 0.6;
            const double step = 0.2 + unit(random) * 1.8;
            x = clamp(x + step * std::cos(heading), 0, 200);
            y = clamp(y + step * std::sin(heading), 0, 200);
            line(afterArc ? "G1 X%.3f Y%.3f" : "X%.3f Y%.3f", x, y);
            afterArc = false;
        }
        ++pass;
    }
    line("G0 Z5.");
    line("M5");
    line("M30");
    return out;
}

} // namespace bench

namespace bench {

std::string GenerateSurfaceGcode(std::size_t lineCount, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    const double phase = std::uniform_real_distribution<double>(0, 6.28)(random);
    const std::size_t perPass = 400;
    const std::size_t passes = std::max<std::size_t>(lineCount / perPass, 1);
    const auto height = [phase](double x, double y) {
        return -6 + 4 * std::cos(x / 14 + phase) * std::sin(y / 19) -
               0.0004 * ((x - 60) * (x - 60) + (y - 40) * (y - 40));
    };
    std::string out = "G90 G94 G17 G21\nT2 M6 (3 mm ball nose)\nS16000 M3\nG0 Z5.\n";
    out += "G0 X0. Y0.\nG1 Z" + std::to_string(height(0, 0)) + " F300.\n";
    char line[96];
    std::size_t written = 6;
    for (std::size_t pass = 0; pass < passes && written < lineCount; ++pass) {
        const double y = 80.0 * static_cast<double>(pass) / static_cast<double>(passes);
        for (std::size_t k = 0; k < perPass && written < lineCount; ++k, ++written) {
            // Back and forth, as a raster finish goes.
            const double t = static_cast<double>(k) / (perPass - 1);
            const double x = 120.0 * (pass % 2 == 0 ? t : 1 - t);
            std::snprintf(line, sizeof line, "%sX%.3f Y%.3f Z%.3f\n", k == 0 ? "G1 " : "", x, y,
                          height(x, y));
            out += line;
        }
    }
    out += "G0 Z5.\nM5\nM30\n";
    return out;
}

} // namespace bench

#include "bench/cam_gcode.h"

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

} // namespace bench

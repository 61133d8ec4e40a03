// Writes a seeded CAM-style G-code file to standard output: gen_cam_gcode LINES [SEED].
#include "bench/cam_gcode.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: gen_cam_gcode LINES [SEED]\n");
        return 2;
    }
    const auto lines = static_cast<std::size_t>(std::strtoull(argv[1], nullptr, 10));
    const auto seed = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 1ull;
    const std::string text = bench::GenerateCamGcode(lines, seed);
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() ? 0 : 1;
}

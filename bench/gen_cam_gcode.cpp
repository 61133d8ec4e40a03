// Writes a seeded CAM-style G-code file to standard output:
//   gen_cam_gcode LINES [SEED]           the original dialect (G00, G01, X.. Y.. lines)
//   gen_cam_gcode --arcs LINES [SEED]    as CAM programs write it today, arcs among the lines
//   gen_cam_gcode --surface LINES [SEED] a 3D surfacing finish, X, Y and Z on every line
#include "bench/cam_gcode.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const bool arcs = argc > 1 && std::strcmp(argv[1], "--arcs") == 0;
    const bool surface = argc > 1 && std::strcmp(argv[1], "--surface") == 0;
    const int first = arcs || surface ? 2 : 1;
    if (argc < first + 1 || argc > first + 2) {
        std::fprintf(stderr, "usage: gen_cam_gcode [--arcs | --surface] LINES [SEED]\n");
        return 2;
    }
    const auto lines = static_cast<std::size_t>(std::strtoull(argv[first], nullptr, 10));
    const auto seed = argc == first + 2 ? std::strtoull(argv[first + 1], nullptr, 10) : 1ull;
    const std::string text = surface ? bench::GenerateSurfaceGcode(lines, seed)
                             : arcs  ? bench::GenerateRealCamGcode(lines, seed)
                                     : bench::GenerateCamGcode(lines, seed);
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() ? 0 : 1;
}

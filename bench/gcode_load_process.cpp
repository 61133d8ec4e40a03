// The loader as a whole process, for the lines-per-second figure: reads FILE, runs both passes
// and prints the line count and extents. Run it under `time` (or /usr/bin/time -v).
#include "gcode/loader.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gcode_load_process FILE\n");
        return 2;
    }
    const gcode::LoadFileResult loaded = gcode::LoadProgramFile(argv[1], {"500", "1000"});
    if (!loaded.ok) {
        std::fprintf(stderr, "%s: %s\n", argv[1], loaded.error.c_str());
        return 2;
    }
    const gcode::Program& program = loaded.program;
    std::printf("%zu lines kept, X %s, Y %s\n", program.LineCount(),
                program.XExtent.Shown().c_str(), program.YExtent.Shown().c_str());
    return 0;
}

// The loader as a whole process, for the lines-per-second figure: reads FILE as a Load does
// (the original filter and the reader together) and prints the rows, the way it was read and
// the extents; with --design only the original filter. Run it under `time` (or /usr/bin/time).
#include "gcode/program_load.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const bool design = argc == 3 && std::strcmp(argv[1], "--design") == 0;
    if (argc != 2 && !design) {
        std::fprintf(stderr, "usage: gcode_load_process [--design] FILE\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    gcode::LoadSettings settings;
    settings.feeds = {"500", "1000"};
    settings.designOnly = design;
    const gcode::LoadFileResult loaded = gcode::LoadGcodeFile(path, settings);
    if (!loaded.ok) {
        std::fprintf(stderr, "%s: %s\n", path, loaded.error.c_str());
        return 2;
    }
    const gcode::Program& program = loaded.program;
    std::printf("%zu rows (%s), X %s, Y %s\n", program.LineCount(),
                program.dialect == gcode::Dialect::Design ? "original filter" : "G-code reader",
                program.XExtent.Shown().c_str(), program.YExtent.Shown().c_str());
    return 0;
}

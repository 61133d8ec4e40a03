// A seeded generator of CAM-style G-code files for benchmarks and load tests.
//
// The files look like what a CAM post-processor writes for a 2.5D pocketing job, so that the
// loader meets the mix it meets in practice:
//   - a header: "%", bracketed comments, G21, G90, G17, a spindle start "M03 S12000";
//   - per toolpath: a retract "N.. G00 Z5.000", a rapid "N.. G00 X.. Y..", a plunge
//     "N.. G01 Z-d F100.0", a first cut "N.. G01 X.. Y.. F600.0", then a long run (40 to 400
//     lines) of continuation lines "X.. Y.." with 3 decimals, a random walk inside
//     0..200 mm; now and then a comment line "(pass n)";
//   - a footer: "G00 Z5.000", "M05", "M30", "%".
// Block numbers (N10, N20, ...) sit on the G-code lines only, as many posts write them. Lines
// end with CR LF. The same line count and seed always give the same bytes; a million lines
// is about 19 MB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

std::string GenerateCamGcode(std::size_t lineCount, std::uint64_t seed = 1);

// The same kind of job as most CAM programs write it today, which the original filter drops
// most of: "G90 G94 G17 G21", "T1 M6", "S12000 M3"; per toolpath "G0 Z5.", "G0 X.. Y..",
// "G1 Z-d F100.", "G1 X.. Y.. F600.", then continuation lines "X.. Y.." (no leading zeros,
// trailing points as posts write them) with about one line in ten an arc: "G2" or "G3" by
// centre (I, J) or by radius (R), of 1 to 6 mm radius and up to a quarter turn, then "G1" again.
// Ends "G0 Z5.", "M5", "M30". Lines end with LF; a million lines is about 20 MB.
std::string GenerateRealCamGcode(std::size_t lineCount, std::uint64_t seed = 1);

// A 3D surfacing finish: a ball nose going back and forth across a 120 x 80 mm wavy surface,
// every line "X.. Y.. Z..", 400 lines a pass. Lines end with LF.
std::string GenerateSurfaceGcode(std::size_t lineCount, std::uint64_t seed = 1);

} // namespace bench

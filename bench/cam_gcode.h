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

} // namespace bench

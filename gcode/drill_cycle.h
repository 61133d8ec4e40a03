// The drilling cycles G73, G81, G82 and G83 as the straight moves they stand for, the way
// RS274/NGC interpreters expand them (drilling along Z in the XY plane, G17).
//
// All values are in mm in the load frame, absolute: the reader has already turned incremental
// words (G91) and inches into them. One block (one line of a cycle, with its L repeats) becomes
// its moves in order:
//   - preliminary: when the block starts below the R plane, a rapid up to R (once a block);
//   - per hole: a rapid in X and Y to the hole, a rapid down to R (when above it), then
//       G81: a feed to the bottom;
//       G82: the same, then a dwell of P seconds at the bottom;
//       G83: pecks of Q: a feed Q deeper, a rapid back to R, a rapid down to 0.254 mm above the
//            depth reached, the next feed Q deeper, ... until the bottom;
//       G73: pecks of Q with a rapid back-off of 0.254 mm between them instead of a retract;
//     and a rapid back to R (G99) or to the clear height (G98: the higher of R and the Z the
//     block started at).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace gcode {

// The distance a peck backs off (G73) or stops above the last depth (G83): 0.010 in.
inline constexpr double PeckClearanceMm = 0.254;

struct DrillBlock {
    int code = 81;                     // 73, 81, 82 or 83
    bool retractToR = false;           // G99; G98 otherwise
    double r = 0;                      // the R plane: Z, absolute
    double bottom = 0;                 // the bottom of the hole: Z, absolute
    double peck = 0;                   // Q (G73, G83), > 0
    double dwellSeconds = 0;           // P (G82); 0 for none
    std::array<double, 2> firstHole{}; // X, Y of the first hole, absolute
    std::array<double, 2> step{};      // X, Y added for each further hole (G91 with L > 1)
    int repeats = 1;                   // L, at least 1
};

struct CycleMove {
    bool rapid = true;
    std::array<double, 3> target{}; // X, Y, Z
    double dwellAfterSeconds = 0;   // a dwell once this move is done (G82); 0 for none
};

// Why a block cannot be drilled, in the operator's words (the caller adds the file line).
struct CycleRefusal {
    std::string message;
};

// The moves of one block from the position `from`, or none with the reason: a Q that is not
// above 0 for G73 and G83, an R plane below the bottom, L below 1.
std::optional<std::vector<CycleMove>>
DrillBlockMoves(const DrillBlock& block, const std::array<double, 3>& from, CycleRefusal& refusal);

} // namespace gcode

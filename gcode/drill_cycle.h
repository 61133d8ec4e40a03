// The drilling cycles G73, G81, G82 and G83 as the straight moves they stand for, the way
// RS274/NGC interpreters expand them (drilling along Z in the XY plane, G17).
//
// All values are in mm in the load frame, absolute: the reader has already turned incremental
// words (G91) and inches into them. One block (one line of a cycle, with its L repeats) becomes
// its moves in order:
//   - preliminary: when the series of cycle blocks started below the R plane (see below), a rapid
//     in Z to R where it stands in X and Y (once a block, whatever L): up from below, or down
//     when an earlier block of the series left it above this block's R;
//   - per hole: a rapid to the hole (even where it is already there: the peer interpreters list
//     it too) at the Z it stands at when that is above R, otherwise at the clear height, rising
//     to it on the way; then a rapid down to R when above it (none when at R), then
//       G81: a feed to the bottom;
//       G82: the same, then a dwell of P seconds at the bottom;
//       G83: pecks of Q from R: a feed Q deeper, a rapid back to R, a rapid to 0.254 mm above the
//            depth reached, the next feed Q deeper, ... and the last feed stops at the bottom;
//       G73: the same pecks, with a rapid back-off of 0.254 mm after each in place of the trip
//            to R and back;
//     and a rapid back to R (G99) or to the clear height (G98: the higher of R and the Z the
//     block started at), even where the drill already stands there.
// A Q under 0.254 mm takes the G83 return and the G73 back-off above R, and the next feed starts
// there in the air: the peer interpreters do just that, and it is only slow, never a collision.
// A peck that ends within a float's rounding of the bottom is the last one: 0.9 mm at Q 0.3 is
// three pecks, where an interpreter that sums 0.3 three times adds a fourth of nothing.
//
// G98 over a series of cycle blocks (up to G80 or any other motion; a change from one cycle to
// another goes on with the series): the clear height of every G98 block is the higher of its R
// and the Z before the series' first block, not the Z the block itself starts at. After a G99
// block (at R) a later G98 block climbs back to that first Z on its way to the first hole, over
// the clamps the program meant to clear; after a block whose R lay above it, it comes back down.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace gcode {

// The distance a peck backs off (G73) or stops above the last depth (G83): 0.010 in.
inline constexpr double PeckClearanceMm = 0.254;

// The most moves one block may become; beyond, the block is refused. Past a million moves one
// line holds a Q or an L mistyped by orders of magnitude, not a part, and would take the memory
// of the whole program.
inline constexpr std::size_t MaxDrillBlockMoves = std::size_t{1} << 20;

struct DrillBlock {
    int code = 81;                     // 73, 81, 82 or 83
    bool retractToR = false;           // G99; G98 otherwise
    double r = 0;                      // the R plane: Z, absolute
    double bottom = 0;                 // the bottom of the hole: Z, absolute
    double peck = 0;                   // Q (G73, G83), > 0; not read by G81 and G82
    double dwellSeconds = 0;           // P (G82), >= 0; 0 for none; not read by the others
    std::array<double, 2> firstHole{}; // X, Y of the first hole, absolute
    std::array<double, 2> step{};      // X, Y added for each further hole (G91 with L > 1)
    int repeats = 1;                   // L, at least 1
    // The Z before the first block of this series of cycle blocks; none: the Z of `from`.
    std::optional<double> seriesStartZ;
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

// The moves of one block from the position `from`, or none with the reason: a code other than
// 73, 81, 82 and 83; L below 1; a position or number that is not finite (or a hole of the
// repeats that is not); an R plane below the bottom (R equal to it drills nothing, with every
// move still listed); a Q that is not above 0 for G73 and G83; a P below 0 for G82; more than
// MaxDrillBlockMoves moves. A refused block moves nothing at all, where the peer interpreters
// refuse a Q of 0 only after the rapids to the first hole and down to R.
std::optional<std::vector<CycleMove>>
DrillBlockMoves(const DrillBlock& block, const std::array<double, 3>& from, CycleRefusal& refusal);

} // namespace gcode

#include "gcode/drill_cycle.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace gcode {

namespace {

// A peck depth this close above the bottom is the bottom. R - k Q lands a few ulps beside the
// bottom when Q divides the depth (3 x 0.3 is 0.8999999999999999), and one more peck there would
// be a retract and a feed of nothing; a billionth of a millimetre is far below the thousandth
// the displays show and far above the rounding of any position a machine reaches.
constexpr double SameDepthMm = 1e-9;

bool IsPeckCycle(int code) {
    return code == 73 || code == 83;
}

// How many pecks of a G73 or G83 hole stop above the bottom (the depths R - k Q, k = 1, 2, ...);
// none once they are more than `limit`, when they are only known to be too many.
std::optional<std::size_t> PecksAboveBottom(const DrillBlock& block, std::size_t limit) {
    const auto aboveBottom = [&](std::size_t k) {
        return block.r - static_cast<double>(k) * block.peck > block.bottom + SameDepthMm;
    };
    // The quotient is right within an ulp or two; the steps below settle the last peck on the
    // very test that places it.
    const double estimate = std::floor((block.r - block.bottom) / block.peck);
    if (!(estimate <= static_cast<double>(limit))) {
        return std::nullopt;
    }
    auto count = static_cast<std::size_t>(estimate);
    while (count > 0 && !aboveBottom(count)) {
        --count;
    }
    while (aboveBottom(count + 1)) {
        if (++count > limit) {
            return std::nullopt;
        }
    }
    return count;
}

} // namespace

namespace {

// Why the block cannot be drilled whatever its moves, if it cannot.
std::optional<std::string> invalidBlock(const DrillBlock& block,
                                        const std::array<double, 3>& from) {
    const int code = block.code;
    if (code != 73 && code != 81 && code != 82 && code != 83) {
        return std::string("G").append(std::to_string(code)) +
               " is not a drilling cycle: only G73, G81, G82 and G83 are drilled.";
    }
    if (block.repeats < 1) {
        return "L is the number of holes the cycle drills: it must be 1 or more.";
    }
    const auto lastRepeat = static_cast<double>(block.repeats - 1);
    const bool finite = std::isfinite(from[0]) && std::isfinite(from[1]) &&
                        std::isfinite(from[2]) && std::isfinite(block.r) &&
                        std::isfinite(block.bottom) &&
                        std::isfinite(block.firstHole[0] + lastRepeat * block.step[0]) &&
                        std::isfinite(block.firstHole[1] + lastRepeat * block.step[1]) &&
                        (!IsPeckCycle(code) || std::isfinite(block.peck)) &&
                        (code != 82 || std::isfinite(block.dwellSeconds));
    if (!finite) {
        return "The drilling cycle's numbers lie beyond any machine's reach.";
    }
    if (block.bottom > block.r) {
        return "The bottom of the hole (Z) lies above the R plane, where drilling starts.";
    }
    if (IsPeckCycle(code) && !(block.peck > 0)) {
        return std::string("G").append(std::to_string(code)) + " needs a peck depth Q above 0.";
    }
    if (code == 82 && block.dwellSeconds < 0) {
        return "G82 needs a dwell P of 0 seconds or more.";
    }
    return std::nullopt;
}

// What a block's moves are made from, counted before any is made: a tiny Q or a huge L is
// refused, not allocated.
struct BlockShape {
    std::size_t pecks = 0;
    std::size_t holes = 0;
    std::size_t total = 0; // moves in all
    bool toRFirst = false; // a rapid up (or down) to R before the first hole
    double clearZ = 0;     // where each hole retracts to
};

std::optional<BlockShape> shapeOf(const DrillBlock& block, const std::array<double, 3>& from) {
    BlockShape shape;
    if (IsPeckCycle(block.code)) {
        const std::optional<std::size_t> counted = PecksAboveBottom(block, MaxDrillBlockMoves);
        if (!counted) {
            return std::nullopt;
        }
        shape.pecks = *counted;
    }
    shape.holes = static_cast<std::size_t>(block.repeats);
    const std::size_t movesPerPeck = block.code == 83 ? 3 : 2;
    // The series' first Z decides both the rapid to R before the first hole (when it lies below
    // R) and the clear height of G98 (the higher of the two).
    const double seriesZ = block.seriesStartZ.value_or(from[2]);
    shape.toRFirst = seriesZ < block.r;
    shape.clearZ = block.retractToR ? block.r : std::max(block.r, seriesZ);
    // A hole is reached at the Z the drill stands at when that is above R, otherwise at the
    // clear height; from above R a rapid down to R follows.
    const double firstHoleZ = !shape.toRFirst && from[2] > block.r ? from[2] : shape.clearZ;
    const std::size_t descents =
        (firstHoleZ > block.r ? 1 : 0) + (shape.clearZ > block.r ? shape.holes - 1 : 0);
    const std::size_t movesPerHole = 3 + shape.pecks * movesPerPeck; // to the hole, bottom, retract
    if (movesPerHole > MaxDrillBlockMoves / shape.holes) {
        return std::nullopt;
    }
    shape.total = (shape.toRFirst ? 1 : 0) + descents + shape.holes * movesPerHole;
    if (shape.total > MaxDrillBlockMoves) {
        return std::nullopt;
    }
    return shape;
}

std::vector<CycleMove> movesOf(const DrillBlock& block, const std::array<double, 3>& from,
                               const BlockShape& shape) {
    std::vector<CycleMove> moves;
    moves.reserve(shape.total);
    std::array<double, 3> at = from;
    const auto move = [&moves, &at](bool rapid, double x, double y, double z, double dwell) {
        at = {x, y, z};
        moves.push_back(CycleMove{rapid, at, dwell});
    };
    const auto rapidTo = [&](double z) { move(true, at[0], at[1], z, 0); };

    if (shape.toRFirst) {
        rapidTo(block.r);
    }
    const double bottomDwell = block.code == 82 ? block.dwellSeconds : 0;
    for (std::size_t hole = 0; hole < shape.holes; ++hole) {
        const double k = static_cast<double>(hole);
        move(true, block.firstHole[0] + k * block.step[0], block.firstHole[1] + k * block.step[1],
             at[2] > block.r ? at[2] : shape.clearZ, 0);
        if (at[2] > block.r) {
            rapidTo(block.r);
        }
        for (std::size_t peck = 1; peck <= shape.pecks; ++peck) {
            const double depth = block.r - static_cast<double>(peck) * block.peck;
            move(false, at[0], at[1], depth, 0);
            if (block.code == 83) {
                rapidTo(block.r);
            }
            rapidTo(depth + PeckClearanceMm);
        }
        move(false, at[0], at[1], block.bottom, bottomDwell);
        rapidTo(shape.clearZ);
    }
    return moves;
}

} // namespace

std::optional<std::vector<CycleMove>>
DrillBlockMoves(const DrillBlock& block, const std::array<double, 3>& from, CycleRefusal& refusal) {
    if (std::optional<std::string> why = invalidBlock(block, from)) {
        refusal.message = std::move(*why);
        return std::nullopt;
    }
    const std::optional<BlockShape> shape = shapeOf(block, from);
    if (!shape) {
        refusal.message = "The drilling cycle would make more than " +
                          std::to_string(MaxDrillBlockMoves) +
                          " moves: Q is far too small for the depth, or L far too large.";
        return std::nullopt;
    }
    return movesOf(block, from, *shape);
}

} // namespace gcode

// The loaded program as the toolpath view draws it: every straight move a run makes, as points
// in the display frame (mm from where the program was loaded), each move tagged with its table
// row. Arcs are their straight moves, at most one per 5 degrees of turn so that a million arcs
// stay within the view's memory.
//
// A move costs 17 bytes: a point (three floats), its row and its kind. The view draws from this
// and nothing else, so a program that is never run still shows where it will cut.
#pragma once

#include "gcode/program.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

namespace gcode {

struct PathPoint {
    float x = 0;
    float y = 0;
    float z = 0;
};

// The smallest box holding the program's moves, on each axis (mm).
struct PathBox {
    std::array<double, 3> min{};
    std::array<double, 3> max{};
    bool empty = true;

    void Add(const std::array<double, 3>& p) {
        for (std::size_t i = 0; i < 3; ++i) {
            min[i] = empty || p[i] < min[i] ? p[i] : min[i];
            max[i] = empty || p[i] > max[i] ? p[i] : max[i];
        }
        empty = false;
    }
    std::array<double, 3> Size() const;
    // Corner k has the maximum on axis i where bit i of k is set, else the minimum.
    std::array<std::array<double, 3>, 8> Corners() const;
};

class Toolpath {
public:
    // Kind bits of a move.
    static constexpr std::uint8_t Rapid = 1;      // G00
    static constexpr std::uint8_t DeeperPass = 2; // in a run, a feed move of the second colour

    // Move k runs from point k to point k + 1.
    std::size_t MoveCount() const { return rows_.size(); }
    std::span<const PathPoint> Points() const { return points_; }
    std::uint32_t RowOf(std::size_t move) const { return rows_[move]; }
    std::uint8_t KindOf(std::size_t move) const { return kinds_[move]; }
    // Where the moves start: the machine's place when the path was made.
    std::array<double, 3> Start() const;
    // A position as the path holds it (to a float's precision).
    static std::array<double, 3> Rounded(const std::array<double, 3>& p);
    // The moves of rows before `row`: the first move of `row`, if it has one.
    std::size_t MovesBefore(std::size_t row) const;
    // The moves of one row, [first, second).
    std::pair<std::size_t, std::size_t> MovesOf(std::size_t row) const;
    // The program's minimum and maximum on each axis (the start itself not counted).
    const PathBox& Extents() const { return extents_; }
    std::size_t RowCount() const { return rowCount_; }
    std::size_t MemoryBytes() const;

    // One move after another, as a builder adds them.
    void Begin(const std::array<double, 3>& start);
    void Add(const std::array<double, 3>& to, std::uint32_t row, std::uint8_t kind) {
        points_.push_back(
            {static_cast<float>(to[0]), static_cast<float>(to[1]), static_cast<float>(to[2])});
        rows_.push_back(row);
        kinds_.push_back(kind);
        extents_.Add(to);
    }
    void Reserve(std::size_t moves) {
        if (rows_.capacity() < moves) {
            grow(moves);
        }
    }
    void Finish(std::size_t rows);

private:
    void grow(std::size_t moves);

    std::vector<PathPoint> points_;
    std::vector<std::uint32_t> rows_;
    std::vector<std::uint8_t> kinds_;
    PathBox extents_;
    std::size_t rowCount_ = 0;
};

// Arcs in the view: never more straight moves than the run cuts, nor more than this many a turn.
inline constexpr std::size_t ViewArcMovesPerTurn = 72;

// The path a run takes from `start` (display values, mm), a row at a time: each row's cells are
// its targets, an axis without a cell stays where it is. Feed moves that reach a new lowest Z
// since the last rapid switch between the two run colours, as the run's own colouring does.
class ToolpathBuilder {
public:
    ToolpathBuilder(const std::array<double, 3>& start, double arcToleranceMm);
    // Row `row` of `program` (a slice of the table, perhaps), the table's row `tableRow`; an
    // arc row comes with its arc and its count of moves in the view (ViewArcMoves).
    void Row(const Program& program, std::size_t row, std::uint32_t tableRow,
             const Arc* arc = nullptr, std::size_t arcMoves = 1);
    // Room for this many moves in all.
    void Reserve(std::size_t moves);
    std::size_t Rows() const { return rows_; }
    // The path, in exactly its room.
    Toolpath Finish();

private:
    Toolpath path_;
    std::array<double, 3> at_;
    double arcToleranceMm_;
    double lastCutZ_;
    int passToggle_ = 0;
    std::size_t rows_ = 0;
};

// The straight moves the view draws an arc with.
std::size_t ViewArcMoves(const Arc& arc, double toleranceMm);

// The whole program's path from `start`.
Toolpath BuildToolpath(const Program& program, const std::array<double, 3>& start,
                       double arcToleranceMm);

} // namespace gcode

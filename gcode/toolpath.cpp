#include "gcode/toolpath.h"

#include "encoding/number_text.h"
#include "gcode/plot_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace gcode {

std::array<double, 3> PathBox::Size() const {
    if (empty) {
        return {};
    }
    return {max[0] - min[0], max[1] - min[1], max[2] - min[2]};
}

std::array<std::array<double, 3>, 8> PathBox::Corners() const {
    std::array<std::array<double, 3>, 8> corners{};
    for (std::size_t k = 0; k < 8; ++k) {
        for (std::size_t i = 0; i < 3; ++i) {
            corners[k][i] = (k >> i) & 1 ? max[i] : min[i];
        }
    }
    return corners;
}

std::array<double, 3> Toolpath::Start() const {
    if (points_.empty()) {
        return {};
    }
    return {points_[0].x, points_[0].y, points_[0].z};
}

std::array<double, 3> Toolpath::Rounded(const std::array<double, 3>& p) {
    return {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])};
}

std::size_t Toolpath::MovesBefore(std::size_t row) const {
    return static_cast<std::size_t>(
        std::lower_bound(rows_.begin(), rows_.end(), row,
                         [](std::uint32_t r, std::size_t wanted) { return r < wanted; }) -
        rows_.begin());
}

std::pair<std::size_t, std::size_t> Toolpath::MovesOf(std::size_t row) const {
    return {MovesBefore(row), MovesBefore(row + 1)};
}

std::size_t Toolpath::MemoryBytes() const {
    return points_.capacity() * sizeof(PathPoint) + rows_.capacity() * sizeof(std::uint32_t) +
           kinds_.capacity();
}

void Toolpath::Begin(const std::array<double, 3>& start) {
    *this = Toolpath();
    points_.push_back(
        {static_cast<float>(start[0]), static_cast<float>(start[1]), static_cast<float>(start[2])});
}

void Toolpath::grow(std::size_t moves) {
    // Grown by at least half each time, so that a path built a row at a time is copied a
    // handful of times, not once a row.
    {
        const std::size_t room = std::max(moves, rows_.capacity() + rows_.capacity() / 2);
        points_.reserve(room + 1);
        rows_.reserve(room);
        kinds_.reserve(room);
    }
}

void Toolpath::Finish(std::size_t rows) {
    rowCount_ = rows;
    if (rows_.capacity() != rows_.size()) {
        points_.shrink_to_fit();
        rows_.shrink_to_fit();
        kinds_.shrink_to_fit();
    }
}

namespace {

// The number a run reads from a word cell, in mm.
double CellMm(const Program& program, const WordCell& cell) {
    if (!cell.pooled) {
        return cell.value / 1000.0;
    }
    char buf[16];
    return encoding::Val(program.WordBodyView(cell, buf));
}

} // namespace

std::size_t ViewArcMoves(const Arc& arc, double toleranceMm) {
    const std::size_t cut = ArcSegmentCount(arc, toleranceMm).value_or(1);
    const double turns = std::abs(arc.sweep) / (2 * std::numbers::pi);
    const auto cap = static_cast<std::size_t>(std::ceil(turns * ViewArcMovesPerTurn));
    return std::clamp<std::size_t>(cap, 1, std::max<std::size_t>(cut, 1));
}

ToolpathBuilder::ToolpathBuilder(const std::array<double, 3>& start, double arcToleranceMm)
    : at_(start), arcToleranceMm_(arcToleranceMm), lastCutZ_(start[2]) {
    path_.Begin(start);
}

void ToolpathBuilder::Row(const Program& program, std::size_t r, std::uint32_t tableRow,
                          const Arc* arc, std::size_t arcMoves) {
    const ProgramRow& row = program.Rows()[r];
    std::array<bool, 3> has{};
    std::array<double, 3> to = at_;
    for (int a = 0; a < 3; ++a) {
        const WordCell cell = row.Word(a);
        has[static_cast<std::size_t>(a)] = cell.present;
        if (cell.present) {
            to[static_cast<std::size_t>(a)] = CellMm(program, cell);
        }
    }
    const bool rapid = !row.IsFeedMove();
    NextPass(lastCutZ_, passToggle_, rapid, to[2]); // the run's colouring
    const std::uint8_t kind =
        rapid ? Toolpath::Rapid : (passToggle_ == 1 ? Toolpath::DeeperPass : 0);
    if (arc != nullptr) {
        path_.Reserve(path_.MoveCount() + arcMoves);
        ArcWalk walk(*arc, arcMoves);
        for (std::size_t k = 1; k < arcMoves; ++k) {
            const std::array<double, 3> p = walk.Next();
            std::array<double, 3> v = at_;
            for (std::size_t i = 0; i < 3; ++i) {
                v[i] = has[i] ? p[i] : at_[i]; // an axis the row leaves stays where it is
            }
            path_.Add(v, tableRow, kind);
        }
    } else {
        path_.Reserve(path_.MoveCount() + 1);
    }
    path_.Add(to, tableRow, kind);
    at_ = to;
    ++rows_;
}

void ToolpathBuilder::Reserve(std::size_t moves) {
    path_.Reserve(moves);
}

Toolpath ToolpathBuilder::Finish() {
    path_.Finish(rows_);
    return std::move(path_);
}

Toolpath BuildToolpath(const Program& program, const std::array<double, 3>& start,
                       double arcToleranceMm) {
    ToolpathBuilder builder(start, arcToleranceMm);
    // Counted first, so that the moves take exactly their room and are never copied; the
    // arcs are walked beside the rows, in their order, instead of looked up row by row.
    const std::span<const Program::RowArc> arcs = program.Arcs();
    std::vector<std::uint32_t> arcMoves(arcs.size());
    std::size_t moves = program.LineCount();
    for (std::size_t k = 0; k < arcs.size(); ++k) {
        arcMoves[k] = static_cast<std::uint32_t>(ViewArcMoves(arcs[k].arc, arcToleranceMm));
        moves += arcMoves[k] - 1;
    }
    builder.Reserve(moves);
    std::size_t nextArc = 0;
    for (std::size_t r = 0; r < program.LineCount(); ++r) {
        const Arc* arc = nullptr;
        std::size_t n = 1;
        while (nextArc < arcs.size() && arcs[nextArc].row < r) {
            ++nextArc;
        }
        if (nextArc < arcs.size() && arcs[nextArc].row == r && program.Rows()[r].IsArc()) {
            arc = &arcs[nextArc].arc;
            n = arcMoves[nextArc];
        }
        builder.Row(program, r, static_cast<std::uint32_t>(r), arc, n);
    }
    return builder.Finish();
}

} // namespace gcode

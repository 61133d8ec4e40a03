#include "gcode/program_table_model.h"

#include "gcode/toolpath_view.h"

#include <climits>

namespace gcode {

void ProgramTableModel::ResetEmpty(int rows) {
    beginResetModel();
    program_.reset();
    rows_ = rows < 0 ? 0 : rows;
    colouredRows_.clear();
    endResetModel();
}

void ProgramTableModel::SetProgram(std::shared_ptr<const Program> program) {
    beginResetModel();
    program_ = std::move(program);
    const std::size_t lines = program_ ? program_->LineCount() : 0;
    rows_ = lines > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(lines);
    colouredRows_.clear();
    endResetModel();
}

void ProgramTableModel::SetFirstCellColour(int row, std::uint32_t bgr) {
    if (row < 0 || row >= rows_) {
        return;
    }
    if (FirstCellColour(row) == bgr) {
        return;
    }
    if (bgr == RowWhite) {
        colouredRows_.erase(row);
    } else {
        colouredRows_[row] = bgr;
    }
    const QModelIndex cell = index(row, 0);
    emit dataChanged(cell, cell, {Qt::BackgroundRole});
}

std::uint32_t ProgramTableModel::FirstCellColour(int row) const {
    const auto it = colouredRows_.find(row);
    return it == colouredRows_.end() ? RowWhite : it->second;
}

void ProgramTableModel::ClearFirstCellColours() {
    while (!colouredRows_.empty()) {
        SetFirstCellColour(colouredRows_.begin()->first, RowWhite);
    }
}

std::string ProgramTableModel::CellText(int row, int column) const {
    if (!program_ || row < 0 || row >= rows_) {
        return {};
    }
    return program_->CellText(static_cast<std::size_t>(row), column);
}

std::size_t ProgramTableModel::MemoryBytes() const {
    std::size_t bytes = sizeof(*this) + colouredRows_.size() * 32;
    if (program_) {
        bytes += program_->MemoryBytes();
    }
    return bytes;
}

int ProgramTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int ProgramTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ProgramColumns;
}

QVariant ProgramTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        // Bytes of the file are 8-bit characters: each byte is the character with its code.
        const std::string text = CellText(index.row(), index.column());
        return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    }
    if (role == Qt::BackgroundRole && index.column() == 0) {
        return ColourOfBgr(FirstCellColour(index.row()));
    }
    return {};
}

QVariant ProgramTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    // Each row is headed by the file line it comes from, to find it in the file and the
    // program check's words.
    if (orientation != Qt::Vertical || role != Qt::DisplayRole || !program_ || section < 0 ||
        static_cast<std::size_t>(section) >= program_->LineCount()) {
        return {};
    }
    const std::uint64_t line = program_->fileLines.FileLine(static_cast<std::size_t>(section));
    return line == 0 ? QVariant() : QVariant(QString::number(line));
}

Qt::ItemFlags ProgramTableModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

} // namespace gcode

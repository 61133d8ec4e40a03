// The program table behind Grid1: five columns, no header, one row per loaded line.
//
// The model keeps the loaded program as it is (20 bytes a row) and writes a cell's text only
// when the view asks for it, so a million-row program scrolls as smoothly as a short one.
// The only other per-row state, the first cell's background, is kept for the rows that are
// not white: the run marks one row at a time.
#pragma once

#include "gcode/program.h"

#include <QAbstractTableModel>
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace gcode {

inline constexpr std::uint32_t RowWhite = 0xFFFFFF; // 0xBBGGRR
inline constexpr std::uint32_t RowRed = 255;

class ProgramTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ProgramTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // Empty rows with white first cells, as the table shows before a load and while one runs.
    void ResetEmpty(int rows);
    // The rows of a loaded program; the first cells start white.
    void SetProgram(std::shared_ptr<const Program> program);
    const std::shared_ptr<const Program>& LoadedProgram() const { return program_; }

    // The background of a row's first cell, as a 0xBBGGRR number.
    void SetFirstCellColour(int row, std::uint32_t bgr);
    std::uint32_t FirstCellColour(int row) const;
    // Every first cell white again.
    void ClearFirstCellColours();

    // The cell text as the table holds it; empty outside the table.
    std::string CellText(int row, int column) const;

    // Bytes held for the rows (the program and the coloured rows), for the per-row budget.
    std::size_t MemoryBytes() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::shared_ptr<const Program> program_;
    int rows_ = 0;
    std::unordered_map<int, std::uint32_t> colouredRows_; // rows whose first cell is not white
};

} // namespace gcode

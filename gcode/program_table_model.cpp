#include "gcode/program_table_model.h"

namespace gcode {

void ProgramTableModel::ResetEmpty(int rows) {
    beginResetModel();
    emptyRows_ = rows;
    endResetModel();
}

int ProgramTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : emptyRows_;
}

int ProgramTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 5;
}

QVariant ProgramTableModel::data(const QModelIndex&, int) const { return {}; }

} // namespace gcode

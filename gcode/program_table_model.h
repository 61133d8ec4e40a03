// The program table behind Grid1: five columns, no header.
#pragma once

#include <QAbstractTableModel>

namespace gcode {

class ProgramTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ProgramTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // Empty rows, as the table shows before the first load.
    void ResetEmpty(int rows);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    int emptyRows_ = 0;
};

} // namespace gcode

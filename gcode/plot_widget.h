// The toolpath plot box: a white square whose logical coordinates run from 0 to the logical
// size (4635 at start-up) in both directions, y downwards.
#pragma once

#include <QWidget>

namespace gcode {

class PlotWidget : public QWidget {
    Q_OBJECT
public:
    explicit PlotWidget(QWidget* parent = nullptr);

    // Logical units across (and down) the box; later drawing uses it, what is drawn stays.
    void SetLogicalSize(double units) { logicalSize_ = units; }
    double LogicalSize() const { return logicalSize_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double logicalSize_ = 4635;
};

} // namespace gcode

// The toolpath plot box (Picture1): a white square whose logical coordinates run from 0 to the
// logical size (4635 at start-up) in both directions, y downwards.
//
// Segments are drawn into a backing image, so a covered or resized window shows the drawing
// again; the pen and the colours are worked out by the plot geometry, not here.
#pragma once

#include "gcode/plot_geometry.h"

#include <QImage>
#include <QWidget>
#include <span>

namespace gcode {

class PlotWidget : public QWidget {
    Q_OBJECT
public:
    explicit PlotWidget(QWidget* parent = nullptr);

    // Logical units across (and down) the box; later drawing uses it, what is drawn stays.
    void SetLogicalSize(double units) { logicalSize_ = units; }
    double LogicalSize() const { return logicalSize_; }

    // Clears the box to its background colour.
    void Erase();
    // Draws segments given in logical units; the parts outside the box are clipped.
    void DrawSegment(const PlotSegment& segment);
    void DrawSegments(std::span<const PlotSegment> segments);

    // What the box shows, at its current pixel size.
    const QImage& Image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void ensureImage();

    double logicalSize_ = StartupLogicalSize;
    QImage image_;
};

// A 0xBBGGRR colour number as a Qt colour.
QColor ColourOfBgr(std::uint32_t bgr);

} // namespace gcode

// The toolpath view (Picture1): the loaded program drawn from any side, zoomed and moved with
// the mouse, with the tool's place, what a run has cut so far, and the table's row.
//
// The path is drawn into a picture once for each way of looking at it; while nothing changes a
// repaint only lays the marks (tool, rows, scale bar) over that picture, and a run only adds the
// moves it has cut since the last repaint. A path of more moves than a frame can draw is drawn
// simplified while the operator moves the view, and in full, by both processors, once the
// mouse rests. What the picture holds is worked out by the plain
// drawing functions (DrawPath), not here.
#pragma once

#include "gcode/path_raster.h"
#include "gcode/plot_geometry.h"
#include "gcode/toolpath.h"
#include "gcode/view_camera.h"

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace gcode {

class ToolpathView : public QWidget {
    Q_OBJECT
public:
    explicit ToolpathView(QWidget* parent = nullptr);

    // Units across the plot box, as its scale commands set them: the first view of the next
    // program shows the origin where the box did, at its scale.
    void SetLogicalSize(double units) { logicalSize_ = units; }
    double LogicalSize() const { return logicalSize_; }

    // A newly loaded program at `unitsPerMm` of the box (the fit rule's scale): the first view.
    void ShowProgram(std::shared_ptr<const Toolpath> path, double unitsPerMm);
    // The same program from another start (a run from where the machine stands): the view
    // stays where the operator put it.
    void ReplacePath(std::shared_ptr<const Toolpath> path);
    const Toolpath* Path() const { return path_.get(); }

    // A run's progress: rows before `cutRows` are cut, `current` is being cut.
    void ShowCut(std::size_t cutRows, std::optional<std::size_t> current);
    std::size_t CutRows() const { return cutRows_; }
    // After a stop, the last row the board acknowledged; none clears the mark.
    void MarkStoppedAfter(std::optional<std::size_t> row);
    std::optional<std::size_t> StoppedAfter() const { return stoppedAfter_; }
    // The tool at the displayed position (mm), or nowhere when a display is no number.
    void SetMarker(std::optional<std::array<double, 3>> at);
    const std::optional<std::array<double, 3>>& Marker() const { return marker_; }
    // The row the table has selected, drawn thick.
    void SelectRow(std::optional<std::size_t> row);
    std::optional<std::size_t> SelectedRow() const { return selected_; }
    // Moves about to be made before a run goes on, drawn dashed from the tool.
    void ShowApproach(std::vector<std::array<double, 3>> points);

    void ShowView(ViewKind view);
    void Fit();
    void ShowRapids(bool shown);
    bool RapidsShown() const { return colours_.rapids; }
    const ViewCamera& Camera() const { return camera_; }
    void SetCamera(const ViewCamera& camera);

    // The path as it is drawn now (without the marks laid over it).
    const QImage& Image();

signals:
    // A click near the path: the row of the move nearest to it.
    void RowPicked(int row);
    // The view turned to another side (a button, or a turn with the right button).
    void ViewChanged(gcode::ViewKind view);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    QSize sizeHint() const override { return {520, 520}; }
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // The camera or the path changed: the picture is drawn again. While the operator zooms,
    // pans or turns it, a long path is drawn simplified; once the mouse rests, in full.
    void redraw(bool moving = false);
    void drawPicture();
    void drawMarks(QPainter& painter) const;
    void drawRowMoves(QPainter& painter, std::size_t row, const QPen& pen) const;
    void drawExtents(QPainter& painter) const;
    void drawScaleBar(QPainter& painter) const;
    QPointF toScreen(const std::array<double, 3>& p) const;

    double logicalSize_ = StartupLogicalSize;
    std::shared_ptr<const Toolpath> path_;
    ViewCamera camera_;
    PathColours colours_;
    QImage picture_;
    bool pictureValid_ = false;
    bool moving_ = false;
    QTimer settle_;
    std::size_t cutMoves_ = 0;  // moves drawn as cut in the picture
    std::size_t cutWanted_ = 0; // moves the run has cut
    std::size_t cutRows_ = 0;
    std::optional<std::size_t> current_;
    std::optional<std::size_t> stoppedAfter_;
    std::optional<std::size_t> selected_;
    std::optional<std::array<double, 3>> marker_;
    std::vector<std::array<double, 3>> approach_;
    // The mouse: where a button went down, and whether it has moved far enough to drag.
    QPointF pressedAt_;
    QPointF lastAt_;
    Qt::MouseButton dragging_ = Qt::NoButton;
    bool dragged_ = false;
    std::optional<QPointF> hover_;
};

// A 0xBBGGRR colour number as a Qt colour.
QColor ColourOfBgr(std::uint32_t bgr);

} // namespace gcode

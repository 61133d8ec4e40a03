#include "gcode/toolpath_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>
#include <thread>

namespace gcode {

namespace {
const QColor Background(Qt::white);
const QColor ExtentsColour(0x90, 0x90, 0x90);
const QColor SelectedColour(0xFF, 0x90, 0x00);
const QColor CurrentColour(0xD0, 0x00, 0xD0);
const QColor StoppedColour(0x00, 0x90, 0xFF);
const QColor ToolColour(0x20, 0x20, 0x20);
const QColor ApproachColour(0xFF, 0x60, 0x00);
// A press that moves less than this is a click, not a drag.
constexpr double DragPixels = 4;
// A click picks a move passing within this many pixels.
constexpr double PickPixels = 8;
// Moves one frame of a zoom, pan or turn draws at most (about 10 ms); a longer path is
// simplified meanwhile.
constexpr std::size_t MovingMoves = 250'000;
// How long the mouse must rest before a simplified picture is drawn in full.
constexpr int SettleMs = 200;
// Below this many moves one processor draws the full picture as fast as two.
constexpr std::size_t SplitMoves = 100'000;

const char* NameOf(ViewKind view) {
    switch (view) {
    case ViewKind::Top:
        return "Top (XY)";
    case ViewKind::Front:
        return "Front (XZ)";
    case ViewKind::Side:
        return "Side (YZ)";
    case ViewKind::Turned:
        break;
    }
    return "3D";
}
} // namespace

QColor ColourOfBgr(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

ToolpathView::ToolpathView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(360, 360);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    settle_.setSingleShot(true);
    settle_.setInterval(SettleMs);
    connect(&settle_, &QTimer::timeout, this, [this] { redraw(); });
    camera_.width = width();
    camera_.height = height();
}

void ToolpathView::ShowProgram(std::shared_ptr<const Toolpath> path, double unitsPerMm) {
    path_ = std::move(path);
    cutWanted_ = cutRows_ = 0;
    current_.reset();
    stoppedAfter_.reset();
    selected_.reset();
    approach_.clear();
    const ViewKind kind = camera_.kind;
    const double yaw = camera_.yawDegrees;
    const double pitch = camera_.pitchDegrees;
    camera_ = FirstView(path_ ? path_->Extents() : PathBox{}, std::max(width(), 1),
                        std::max(height(), 1), logicalSize_, unitsPerMm);
    if (kind != ViewKind::Top) {
        // The operator's side stays; only the top view starts as the plot box drew it.
        camera_.kind = kind;
        camera_.yawDegrees = yaw;
        camera_.pitchDegrees = pitch;
        Fit();
        return;
    }
    redraw();
}

void ToolpathView::ReplacePath(std::shared_ptr<const Toolpath> path) {
    path_ = std::move(path);
    redraw();
}

void ToolpathView::ShowCut(std::size_t cutRows, std::optional<std::size_t> current) {
    const std::size_t moves = path_ ? path_->MovesBefore(cutRows) : 0;
    cutRows_ = cutRows;
    if (moves == cutWanted_ && current == current_) {
        return;
    }
    if (moves < cutMoves_) {
        pictureValid_ = false; // a new run: the cut part starts again
    }
    cutWanted_ = moves;
    current_ = current;
    update();
}

void ToolpathView::MarkStoppedAfter(std::optional<std::size_t> row) {
    stoppedAfter_ = row;
    update();
}

void ToolpathView::SetMarker(std::optional<std::array<double, 3>> at) {
    if (at == marker_) {
        return;
    }
    marker_ = at;
    update();
}

void ToolpathView::SelectRow(std::optional<std::size_t> row) {
    selected_ = row;
    update();
}

void ToolpathView::ShowApproach(std::vector<std::array<double, 3>> points) {
    approach_ = std::move(points);
    update();
}

void ToolpathView::ShowView(ViewKind view) {
    camera_.Show(view);
    if (view == ViewKind::Turned && camera_.pitchDegrees == 90) {
        camera_.pitchDegrees = 30;
    }
    emit ViewChanged(view);
    Fit();
}

void ToolpathView::Fit() {
    camera_.width = std::max(width(), 1);
    camera_.height = std::max(height(), 1);
    if (path_ && !path_->Extents().empty) {
        camera_.Fit(path_->Extents(), {0, 0, 0}, std::min(camera_.width, camera_.height) / 20);
    }
    redraw(true);
}

void ToolpathView::ShowRapids(bool shown) {
    colours_.rapids = shown;
    redraw();
}

void ToolpathView::SetCamera(const ViewCamera& camera) {
    camera_ = camera;
    redraw();
}

void ToolpathView::redraw(bool moving) {
    pictureValid_ = false;
    moving_ = moving && path_ && path_->MoveCount() > MovingMoves;
    if (moving_) {
        settle_.start();
    }
    update();
}

const QImage& ToolpathView::Image() {
    drawPicture();
    return picture_;
}

// The picture: the extents box, the origin and the path, cut and uncut, at the camera of now.
// Only what a run cut since the last call is drawn when the picture still holds the rest.
void ToolpathView::drawPicture() {
    const QSize pixels = size().expandedTo(QSize(1, 1));
    if (picture_.size() != pixels) {
        picture_ = QImage(pixels, QImage::Format_RGB32);
        pictureValid_ = false;
    }
    camera_.width = pixels.width();
    camera_.height = pixels.height();
    PixelBlock block{reinterpret_cast<std::uint32_t*>(picture_.bits()), picture_.width(),
                     picture_.height(), static_cast<int>(picture_.bytesPerLine() / 4)};
    if (!pictureValid_) {
        picture_.fill(Background);
        {
            QPainter painter(&picture_);
            drawExtents(painter);
        }
        if (path_ && moving_) {
            const std::size_t every = (path_->MoveCount() + MovingMoves - 1) / MovingMoves;
            DrawPath(*path_, camera_, 0, path_->MoveCount(), cutWanted_, colours_, block, every);
        } else if (path_ && path_->MoveCount() > SplitMoves) {
            // Each processor draws the whole path into its own half of the rows.
            PixelBlock upper = block;
            PixelBlock lower = block;
            upper.bottom = lower.top = block.height / 2;
            std::thread other([&] {
                DrawPath(*path_, camera_, 0, path_->MoveCount(), cutWanted_, colours_, upper);
            });
            DrawPath(*path_, camera_, 0, path_->MoveCount(), cutWanted_, colours_, lower);
            other.join();
        } else if (path_) {
            DrawPath(*path_, camera_, 0, path_->MoveCount(), cutWanted_, colours_, block);
        }
        cutMoves_ = cutWanted_;
        pictureValid_ = true;
    } else if (path_ && cutWanted_ > cutMoves_) {
        DrawPath(*path_, camera_, cutMoves_, cutWanted_, cutWanted_, colours_, block);
        cutMoves_ = cutWanted_;
    }
}

QPointF ToolpathView::toScreen(const std::array<double, 3>& p) const {
    const ScreenPoint s = camera_.Project(p);
    return {s.x, s.y};
}

void ToolpathView::drawExtents(QPainter& painter) const {
    // The origin: where the program was loaded, a cross whatever its size.
    const QPointF origin = toScreen({0, 0, 0});
    painter.setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
    painter.drawLine(origin - QPointF(8, 0), origin + QPointF(8, 0));
    painter.drawLine(origin - QPointF(0, 8), origin + QPointF(0, 8));
    painter.drawEllipse(origin, 3, 3);
    if (!path_ || path_->Extents().empty) {
        return;
    }
    const auto corners = path_->Extents().Corners();
    painter.setPen(QPen(ExtentsColour, 1, Qt::DotLine));
    for (std::size_t k = 0; k < 8; ++k) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
            if ((k >> axis) & 1) {
                continue; // each edge once, from its lower corner
            }
            painter.drawLine(toScreen(corners[k]), toScreen(corners[k | (std::size_t{1} << axis)]));
        }
    }
}

void ToolpathView::drawRowMoves(QPainter& painter, std::size_t row, const QPen& pen) const {
    if (!path_ || row >= path_->RowCount()) {
        return;
    }
    const auto [first, last] = path_->MovesOf(row);
    if (first == last) {
        return;
    }
    const auto points = path_->Points();
    QPolygonF line;
    for (std::size_t k = first; k <= last; ++k) {
        line << toScreen({points[k].x, points[k].y, points[k].z});
    }
    painter.setPen(pen);
    painter.drawPolyline(line);
}

void ToolpathView::drawScaleBar(QPainter& painter) const {
    const ScaleBar bar = ScaleBarFor(camera_.scale, width() / 4.0);
    if (bar.pixels <= 0) {
        return;
    }
    const QPointF left(10, height() - 12);
    const QPointF right = left + QPointF(bar.pixels, 0);
    painter.setPen(QPen(Qt::black, 2));
    painter.drawLine(left, right);
    painter.drawLine(left, left - QPointF(0, 5));
    painter.drawLine(right, right - QPointF(0, 5));
    painter.drawText(QPointF(left.x(), left.y() - 8), QString::fromStdString(bar.text));
}

void ToolpathView::drawMarks(QPainter& painter) const {
    painter.setRenderHint(QPainter::Antialiasing);
    if (selected_) {
        drawRowMoves(painter, *selected_, QPen(SelectedColour, 4, Qt::SolidLine, Qt::RoundCap));
    }
    if (stoppedAfter_) {
        drawRowMoves(painter, *stoppedAfter_, QPen(StoppedColour, 4, Qt::SolidLine, Qt::RoundCap));
    }
    if (current_) {
        drawRowMoves(painter, *current_, QPen(CurrentColour, 3, Qt::SolidLine, Qt::RoundCap));
    }
    if (marker_ && !approach_.empty()) {
        QPolygonF legs;
        legs << toScreen(*marker_);
        for (const auto& p : approach_) {
            legs << toScreen(p);
        }
        painter.setPen(QPen(ApproachColour, 2, Qt::DashLine));
        painter.drawPolyline(legs);
    }
    if (marker_) {
        // The tool: a ring with a cross, its centre on the displayed position.
        const QPointF at = toScreen(*marker_);
        painter.setPen(QPen(ToolColour, 2));
        painter.setBrush(QColor(0xFF, 0xD0, 0x00, 0x90));
        painter.drawEllipse(at, 7, 7);
        painter.drawLine(at - QPointF(11, 0), at + QPointF(11, 0));
        painter.drawLine(at - QPointF(0, 11), at + QPointF(0, 11));
        painter.setBrush(Qt::NoBrush);
    }
    drawScaleBar(painter);
    painter.setPen(Qt::black);
    QString caption = QString::fromLatin1(NameOf(camera_.kind));
    if (path_ && !path_->Extents().empty) {
        caption += QStringLiteral("   ") + QString::fromStdString(SizeText(path_->Extents()));
    }
    painter.drawText(QRectF(0, height() - 22, width() - 8, 20), Qt::AlignRight | Qt::AlignBottom,
                     caption);
    if (hover_) {
        const std::string text = HoverText(camera_, {hover_->x(), hover_->y()});
        painter.drawText(QPointF(8, 16), QString::fromStdString(text));
    }
}

void ToolpathView::paintEvent(QPaintEvent*) {
    drawPicture();
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), picture_);
    drawMarks(painter);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void ToolpathView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // What was in the middle stays in the middle.
    camera_.width = std::max(width(), 1);
    camera_.height = std::max(height(), 1);
    redraw();
}

void ToolpathView::mousePressEvent(QMouseEvent* event) {
    pressedAt_ = lastAt_ = event->position();
    dragging_ = event->button();
    dragged_ = false;
}

void ToolpathView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    hover_ = at;
    if (dragging_ != Qt::NoButton) {
        dragged_ = dragged_ || QLineF(at, pressedAt_).length() >= DragPixels;
        if (dragged_) {
            const QPointF by = at - lastAt_;
            if (dragging_ == Qt::RightButton) {
                const bool turned = camera_.kind != ViewKind::Turned;
                camera_.Orbit(by.x(), by.y());
                if (turned) {
                    emit ViewChanged(ViewKind::Turned);
                }
            } else {
                camera_.PanBy(by.x(), by.y());
            }
            lastAt_ = at;
            redraw(true);
            return;
        }
    }
    update(); // the hover text
}

void ToolpathView::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = !dragged_ && dragging_ == Qt::LeftButton;
    dragging_ = Qt::NoButton;
    if (click && path_) {
        const ScreenPoint at{event->position().x(), event->position().y()};
        if (const auto row = RowNear(*path_, camera_, at, PickPixels, colours_.rapids)) {
            emit RowPicked(static_cast<int>(*row));
        }
    }
}

void ToolpathView::mouseDoubleClickEvent(QMouseEvent*) {
    Fit();
}

void ToolpathView::wheelEvent(QWheelEvent* event) {
    // One notch of a wheel zooms by a quarter; a touchpad's small steps zoom in proportion.
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) {
        return;
    }
    camera_.ZoomAbout({event->position().x(), event->position().y()}, std::pow(1.25, notches));
    redraw(true);
    event->accept();
}

void ToolpathView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Home) {
        Fit();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ToolpathView::leaveEvent(QEvent* event) {
    hover_.reset();
    update();
    QWidget::leaveEvent(event);
}

} // namespace gcode

#include "gcode/plot_widget.h"

#include <QPainter>
#include <QResizeEvent>
#include <cmath>
#include <vector>

namespace gcode {

namespace {
const QColor Background(Qt::white);
}

QColor ColourOfBgr(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

PlotWidget::PlotWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 200);
}

void PlotWidget::ensureImage() {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize().expandedTo(QSize(1, 1));
    if (image_.size() == pixels) {
        return;
    }
    QImage fresh(pixels, QImage::Format_RGB32);
    fresh.setDevicePixelRatio(ratio);
    if (image_.isNull()) {
        fresh.fill(Background);
    } else {
        // Keep what is drawn: the logical box just covers more or fewer pixels now.
        QImage scaled = image_.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        fresh = scaled.convertToFormat(QImage::Format_RGB32);
        fresh.setDevicePixelRatio(ratio);
    }
    image_ = fresh;
}

void PlotWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ensureImage();
}

void PlotWidget::Erase() {
    ensureImage();
    image_.fill(Background);
    update();
}

void PlotWidget::DrawSegment(const PlotSegment& segment) {
    DrawSegments({&segment, 1});
}

void PlotWidget::DrawSegments(std::span<const PlotSegment> segments) {
    if (segments.empty()) {
        return;
    }
    ensureImage();
    const double toPixelsX = image_.width() / logicalSize_;
    const double toPixelsY = image_.height() / logicalSize_;
    QPainter painter(&image_);
    painter.resetTransform(); // work in device pixels, whatever the pixel ratio
    painter.scale(1 / image_.devicePixelRatio(), 1 / image_.devicePixelRatio());
    // Connected segments are drawn as one polyline: the painter sets up once per path, not
    // once per line.
    std::vector<QPointF> path;
    std::uint32_t colour = segments.front().colour;
    QRectF touched; // in device pixels: only this part of the box is painted again
    const auto flush = [&] {
        if (path.size() >= 2) {
            painter.setPen(QPen(ColourOfBgr(colour), 0));
            painter.drawPolyline(path.data(), static_cast<int>(path.size()));
        }
        path.clear();
    };
    // A path of many short moves (an arc's straight moves above all) is drawn pixel by pixel,
    // not move by move: a move that goes on from the one before and ends in the pixel where the
    // last line drawn ended draws nothing yet, and the next line drawn starts from there. The
    // line drawn is never a pixel away from the path.
    QPointF anchor;  // where the last line drawn ended
    QPointF pathEnd; // where the last segment ended, drawn or not
    bool onPath = false;
    const auto pixel = [](const QPointF& p) {
        return std::pair{std::floor(p.x()), std::floor(p.y())};
    };
    for (const PlotSegment& s : segments) {
        const std::optional<PlotSegment> inside = ClipToBox(s, logicalSize_);
        if (!inside) {
            onPath = false;
            continue;
        }
        const QPointF from(inside->x0 * toPixelsX, inside->y0 * toPixelsY);
        const QPointF to(inside->x1 * toPixelsX, inside->y1 * toPixelsY);
        const bool goesOn = onPath && inside->colour == colour && from == pathEnd;
        onPath = true;
        pathEnd = to;
        if (goesOn && pixel(to) == pixel(anchor)) {
            continue;
        }
        if (!goesOn) {
            flush();
            colour = inside->colour;
            path.push_back(from);
        } else if (path.size() >= 4096) {
            flush();
            path.push_back(anchor);
        }
        touched |= QRectF(path.back(), to).normalized();
        path.push_back(to);
        anchor = to;
    }
    flush();
    if (!touched.isNull()) {
        const qreal ratio = image_.devicePixelRatio();
        update(QRectF(touched.topLeft() / ratio, touched.bottomRight() / ratio)
                   .toAlignedRect()
                   .adjusted(-2, -2, 2, 2));
    }
}

void PlotWidget::paintEvent(QPaintEvent*) {
    ensureImage();
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), image_);
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace gcode

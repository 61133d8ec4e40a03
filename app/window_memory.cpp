#include "app/window_memory.h"

#include <QFileInfo>
#include <QSettings>

#include <algorithm>

namespace app {
namespace {

const QString GeometryKey = QStringLiteral("MainWindow/geometry");
const QString FilterKey = QStringLiteral("OpenDialog/filter");
const QString ArcToleranceKey = QStringLiteral("Arcs/tolerance");
const QString ClearanceKey = QStringLiteral("Run/clearance");
const QString OptionalStopKey = QStringLiteral("Run/optionalStop");
constexpr int Gap = 16;

} // namespace

WindowMemory::WindowMemory(QString path) : path_(std::move(path)) {
    if (path_.isEmpty() || !QFileInfo(path_).isFile()) {
        return;
    }
    const QSettings file(path_, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        return;
    }
    geometry_ = file.value(GeometryKey).toByteArray();
    openFilter_ = file.value(FilterKey).toString();
    arcTolerance_ = file.value(ArcToleranceKey).toString();
    clearance_ = file.value(ClearanceKey).toString();
    optionalStop_ = file.value(OptionalStopKey, false).toBool();
}

bool WindowMemory::Save() const {
    if (path_.isEmpty()) {
        return true;
    }
    QSettings file(path_, QSettings::IniFormat);
    file.setValue(GeometryKey, geometry_);
    file.setValue(FilterKey, openFilter_);
    if (!arcTolerance_.isEmpty()) {
        file.setValue(ArcToleranceKey, arcTolerance_);
    }
    if (!clearance_.isEmpty()) {
        file.setValue(ClearanceKey, clearance_);
    }
    file.setValue(OptionalStopKey, optionalStop_);
    file.sync();
    return file.status() == QSettings::NoError;
}

QRect FittedGeometry(QSize preferred, QSize minimum, const QRect& available) {
    const QSize room = available.size() - FrameAllowance;
    const QSize size = preferred.boundedTo(room).expandedTo(minimum);
    const QPoint corner(
        available.left() + std::max(0, (available.width() - size.width()) / 2),
        available.top() +
            std::max(0, (available.height() - size.height() - FrameAllowance.height()) / 2));
    return {corner, size};
}

bool FitsOnScreen(const QRect& geometry, const QRect& available) {
    return available.contains(geometry);
}

SideBySide PlaceBeside(const QRect& mainFrame, QSize boardFrame, const QRect& available) {
    SideBySide places{mainFrame.topLeft(), {}};
    const int top = std::max(available.top(), mainFrame.top());
    if (mainFrame.right() + Gap + boardFrame.width() <= available.right()) {
        places.board = {mainFrame.right() + 1 + Gap, top};
        return places;
    }
    if (mainFrame.left() - Gap - boardFrame.width() >= available.left()) {
        places.board = {mainFrame.left() - Gap - boardFrame.width(), top};
        return places;
    }
    const int both = mainFrame.width() + Gap + boardFrame.width();
    if (both <= available.width()) {
        const int left = available.left() + (available.width() - both) / 2;
        places.mainWindow.setX(left);
        places.board = {left + mainFrame.width() + Gap, top};
        return places;
    }
    places.board = {std::max(available.left(), mainFrame.left()),
                    available.bottom() + 1 - boardFrame.height()};
    return places;
}

} // namespace app

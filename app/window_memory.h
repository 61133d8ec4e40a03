// What the program remembers per user apart from quorvane.cfg, whose 17 lines are fixed: the
// main window's place and size, the open dialog's filter, the arc tolerance, the approach's
// clearance and whether M1 pauses a run. Kept in a small INI
// file of its own; a missing or broken file only means nothing is remembered.
#pragma once

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <QString>

namespace app {

class WindowMemory {
public:
    // An empty path remembers nothing (tests, and a home without a configuration folder).
    explicit WindowMemory(QString path);

    QByteArray Geometry() const { return geometry_; }
    QString OpenFilter() const { return openFilter_; }
    // The arc tolerance as the operator typed it last; empty: never set.
    QString ArcTolerance() const { return arcTolerance_; }
    void SetGeometry(const QByteArray& geometry) { geometry_ = geometry; }
    void SetOpenFilter(const QString& filter) { openFilter_ = filter; }
    void SetArcTolerance(const QString& mm) { arcTolerance_ = mm; }
    QString Clearance() const { return clearance_; } // empty: never set
    void SetClearance(const QString& mm) { clearance_ = mm; }
    bool OptionalStop() const { return optionalStop_; }
    void SetOptionalStop(bool on) { optionalStop_ = on; }
    // Written at once; false when the file could not be written (nothing else is lost).
    bool Save() const;

private:
    QString path_;
    QByteArray geometry_;
    QString openFilter_;
    QString arcTolerance_;
    QString clearance_;
    bool optionalStop_ = false;
};

// The room a window manager's title bar and borders take around the window's inside, allowed
// for before the window is shown and its real frame is known.
inline constexpr QSize FrameAllowance{16, 40};

// Where a window first opens: the preferred size cut down to the screen's free area (less the
// frame), never below the window's minimum, centred in that area.
QRect FittedGeometry(QSize preferred, QSize minimum, const QRect& available);

// Whether a remembered place is still usable on this screen: the whole inside on the free area
// (a smaller screen, or a screen that is gone, makes it unusable).
bool FitsOnScreen(const QRect& geometry, const QRect& available);

// The virtual board's window beside the main window's frame, right of it or else left of it,
// moving the main window over when that makes room; where the screen is too narrow for both,
// at the bottom of the main window's left edge, over the plot and clear of every control.
struct SideBySide {
    QPoint mainWindow; // where the main window's frame goes
    QPoint board;      // where the board window's frame goes
};
SideBySide PlaceBeside(const QRect& mainFrame, QSize boardFrame, const QRect& available);

} // namespace app

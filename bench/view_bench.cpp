// The toolpath view on a large program, timed in a real window (run it under xvfb-run: software
// drawing, no graphics card):
//   view_bench GCODEFILE
// prints one line per case, "CASE MS": `load` is the window's Load of the file up to the view's
// first whole drawing (median of 3); the others are milliseconds per frame, the median of 30
// frames, each an operator's step followed by a repaint of the view: `fit` (Home), `zoom-in`
// and `zoom-out` (a wheel notch about the cursor), `pan` (a 12-pixel drag), `orbit-3d` (a
// right-button drag in the 3D view) and `run-repaint` (a run's repaint: a few hundred rows more
// cut and the tool moved); `full-draw` is the whole path drawn in full in the 3D view, as it is
// once the mouse rests (median of 5). Then the view's bytes per move.
#include "bench/bench_window.h"
#include "gcode/toolpath_view.h"

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Milliseconds per frame of `step` followed by a repaint, the median of `frames`.
double PerFrame(gcode::ToolpathView& view, int frames, const std::function<void(int)>& step) {
    std::vector<double> ms;
    for (int k = 0; k < frames; ++k) {
        QElapsedTimer timer;
        timer.start();
        step(k);
        view.repaint();
        ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return Median(ms);
}

void Wheel(gcode::ToolpathView& view, int notches) {
    const QPointF at(view.width() * 0.4, view.height() * 0.6);
    QWheelEvent wheel(at, view.mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &wheel);
}

void Mouse(gcode::ToolpathView& view, QEvent::Type type, QPointF at, Qt::MouseButton button) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, at, view.mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QApplication::sendEvent(&view, &event);
}

// A drag of `frames` steps of 12 pixels; each step is one frame.
double Drag(gcode::ToolpathView& view, Qt::MouseButton button, int frames) {
    QPointF at(view.width() / 2.0, view.height() / 2.0);
    Mouse(view, QEvent::MouseButtonPress, at, button);
    const double ms = PerFrame(view, frames, [&](int k) {
        at += QPointF(k % 20 < 10 ? 12 : -12, k % 10 < 5 ? 4 : -4);
        Mouse(view, QEvent::MouseMove, at, button);
    });
    Mouse(view, QEvent::MouseButtonRelease, at, button);
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: view_bench GCODEFILE\n");
        return 2;
    }
    bench::UseOffscreenWithoutDisplay();
    QApplication application(argc, argv);
    bench::BenchWindow b;
    gcode::ToolpathView& view = *b.form->controls().Picture1;
    std::vector<double> loads;
    for (int k = 0; k < 3; ++k) {
        QElapsedTimer timer;
        timer.start();
        b.Load(QString::fromLocal8Bit(argv[1]));
        view.repaint();
        loads.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    const gcode::Toolpath* path = view.Path();
    if (path == nullptr || path->MoveCount() == 0) {
        std::fprintf(stderr, "view_bench: the file gave no moves to draw\n");
        return 1;
    }
    constexpr int Frames = 30;
    std::printf("load %.1f\n", Median(loads));
    std::printf("fit %.1f\n", PerFrame(view, Frames, [&](int) { view.Fit(); }));
    std::printf("zoom-in %.1f\n", PerFrame(view, Frames, [&](int) { Wheel(view, 1); }));
    std::printf("zoom-out %.1f\n", PerFrame(view, Frames, [&](int) { Wheel(view, -1); }));
    view.Fit();
    std::printf("pan %.1f\n", Drag(view, Qt::LeftButton, Frames));
    view.ShowView(gcode::ViewKind::Turned);
    std::printf("orbit-3d %.1f\n", Drag(view, Qt::RightButton, Frames));
    // The picture in full, as it is drawn once the mouse rests.
    std::printf("full-draw %.1f\n", PerFrame(view, 5, [&](int) { view.SetCamera(view.Camera()); }));
    view.ShowView(gcode::ViewKind::Top);
    const std::size_t rows = path->RowCount();
    const std::size_t perFrame = std::max<std::size_t>(rows / 2 / Frames, 1);
    std::printf("run-repaint %.1f\n", PerFrame(view, Frames, [&](int k) {
                    const std::size_t row = std::min(rows - 1, perFrame * (k + 1));
                    view.ShowCut(row, row);
                    const gcode::PathPoint p = path->Points()[path->MovesBefore(row)];
                    view.SetMarker(std::array<double, 3>{p.x, p.y, p.z});
                }));
    std::printf("bytes-per-move %.1f (%zu moves)\n",
                static_cast<double>(path->MemoryBytes()) / static_cast<double>(path->MoveCount()),
                path->MoveCount());
    return 0;
}

// The program run in the window, timed on the real clock against the virtual board:
//   run_bench live [LINES]      a live run against a board that answers at once: lines per
//                               second, the longest time without a paint, and how soon STOP
//                               takes effect (targets: 20,000 lines/s, a paint every 100 ms,
//                               STOP within one line)
//   run_bench simulate          500 lines simulated at "20" ms: within 2 % of 10 s
//   run_bench pace [SECONDS]    a live run against a board at the real pace: processor time
//                               under 5 % of one core
//   run_bench jog [SECONDS]     JogButton7 held against a board at the real pace: the tick
//                               period 80 to 90 ms (median) while each move fits the interval,
//                               the move's time (plus at most 2 ms) when it does not; processor
//                               time under 5 % of one core
//   run_bench                   all of them
// Prints one line per measure and exits 1 when a target is missed. Runs on the offscreen
// platform when no display is set.
#include "app/jog_controller.h"
#include "bench/bench_window.h"
#include "bench/cam_gcode.h"
#include "device/tick_timer.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Notes when anything in the window paints.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QElapsedTimer& clock) : clock_(clock) { qApp->installEventFilter(this); }
    ~PaintWatch() override { qApp->removeEventFilter(this); }

    void Start() {
        lastMs_ = clock_.elapsed();
        longestGapMs_ = 0;
        paints_ = 0;
    }
    qint64 LongestGapUntilNow() const {
        return std::max(longestGapMs_, clock_.elapsed() - lastMs_);
    }
    int Paints() const { return paints_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const qint64 now = clock_.elapsed();
            longestGapMs_ = std::max(longestGapMs_, now - lastMs_);
            lastMs_ = now;
            ++paints_;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QElapsedTimer& clock_;
    qint64 lastMs_ = 0;
    qint64 longestGapMs_ = 0;
    int paints_ = 0;
};

// The window with a program written to its folder and loaded.
struct Bench : bench::BenchWindow {
    void Load(const std::string& gcode) {
        const QString path = dir.filePath("bench.nc");
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(gcode.data(), static_cast<qint64>(gcode.size()));
        file.close();
        BenchWindow::Load(path);
    }
};

bool report(bool ok, const char* what) {
    std::printf("  %s: %s\n", what, ok ? "met" : "MISSED");
    return ok;
}

bool live(std::size_t lines) {
    Bench b;
    b.board.SetSpeedFactor(0);
    b.Load(bench::GenerateCamGcode(lines, 42));
    const std::size_t rows = static_cast<std::size_t>(b.form->Program().LineCount);
    QElapsedTimer wall;
    wall.start();
    PaintWatch paints(wall);
    paints.Start();
    b.form->Run2_Click();
    const double seconds = static_cast<double>(wall.nsecsElapsed()) * 1e-9;
    const qint64 gapMs = paints.LongestGapUntilNow();
    const double perSecond = static_cast<double>(rows) / seconds;
    std::printf("live run, board answering at once: %zu lines (%llu reports) in %.2f s, "
                "%.0f lines/s; %d paints, longest gap %lld ms\n",
                rows, static_cast<unsigned long long>(b.board.ReportsReceived()), seconds,
                perSecond, paints.Paints(), static_cast<long long>(gapMs));

    // STOP pressed while line `stopAt` waits: nothing after it may go out.
    const std::uint64_t before = b.board.ReportsReceived();
    const std::uint64_t stopAt = before + rows / 3;
    b.board.SetObserver([&] {
        if (b.board.ReportsReceived() == stopAt) {
            QMetaObject::invokeMethod(
                b.form.get(), [&] { b.form->Command3_Click(); }, Qt::QueuedConnection);
        }
    });
    b.form->Run2_Click();
    b.board.SetObserver(nullptr);
    const std::uint64_t sent = b.board.ReportsReceived() - before;
    std::printf("STOP during the wait of report %llu of the run: %llu reports sent, \"%s\"\n",
                static_cast<unsigned long long>(stopAt - before),
                static_cast<unsigned long long>(sent),
                b.messages.shown.join(QStringLiteral(" | ")).toLocal8Bit().constData());
    bool ok = report(perSecond >= 20000, "at least 20,000 lines per second");
    ok = report(gapMs <= 100, "a paint at least every 100 ms") && ok;
    return report(sent == stopAt - before, "STOP within one line") && ok;
}

bool simulate() {
    Bench b;
    std::string gcode = "G01 X0 F600\r\n";
    for (int i = 1; i < 500; ++i) {
        gcode += 'X' + std::to_string(i % 50) + "\r\n";
    }
    b.Load(gcode);
    b.form->controls().Check2->setChecked(true);
    b.form->controls().Text16->setText(QStringLiteral("20"));
    QElapsedTimer wall;
    wall.start();
    b.form->Run2_Click();
    const double seconds = static_cast<double>(wall.nsecsElapsed()) * 1e-9;
    const double off = 100.0 * (seconds - 10.0) / 10.0;
    std::printf("simulated run of 500 lines at 20 ms: %.3f s (%+.2f %% of the nominal 10 s), "
                "%llu reports sent\n",
                seconds, off, static_cast<unsigned long long>(b.board.ReportsReceived()));
    return report(off > -2.0 && off < 2.0 && b.board.ReportsReceived() == 0,
                  "within 2 % of 10 s, nothing sent");
}

bool pace(int seconds) {
    Bench b;
    // Short moves, as a fine finishing pass has them: 0.05 mm at 600 mm/min are 26 steps at
    // period 95, about 5 ms a line on the board, some 200 lines a second.
    std::string gcode = "G01 X0 Y0 F600\r\n";
    for (int i = 1; i < 100000; ++i) {
        gcode += 'X' + std::to_string((i % 400) * 0.05).substr(0, 5) + "\r\n";
    }
    b.Load(gcode);
    const std::uint64_t before = b.board.ReportsReceived();
    QTimer::singleShot(seconds * 1000, b.form.get(), [&] { b.form->Command3_Click(); });
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = processCpuSeconds();
    b.form->Run2_Click();
    const double cpu = processCpuSeconds() - cpuStart;
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) * 1e-9;
    const double percent = 100.0 * cpu / elapsed;
    std::printf("live run at the real pace for %.1f s: %llu reports, processor %.3f s = %.2f %% "
                "of one core\n",
                elapsed, static_cast<unsigned long long>(b.board.ReportsReceived() - before), cpu,
                percent);
    return report(percent < 5.0, "under 5 % of one core");
}

// Holds JogButton7 for `seconds` against the board at the real pace and reports the tick period
// (from one report's arrival to the next) and the processor time.
bool jog(int seconds, const char* jogSpeed, bool movesFit) {
    Bench b;
    b.form->controls().jogspeeds->setText(QString::fromLatin1(jogSpeed));
    QElapsedTimer wall;
    wall.start();
    std::vector<qint64> arrivalsMs;
    double longestMoveMs = 0;
    b.board.SetObserver([&] {
        while (arrivalsMs.size() < b.board.ReportsReceived()) {
            arrivalsMs.push_back(wall.elapsed());
            longestMoveMs = std::max(longestMoveMs, b.board.Log().back().moveMs);
        }
    });
    const double cpuStart = processCpuSeconds();
    app::JogController& pad = b.form->Jog();
    pad.JogButton_MouseDown(7);
    QTimer::singleShot(seconds * 1000, b.form.get(), [&] { pad.JogButton_MouseUp(7); });
    const device::TickTimer& timer = *b.form->controls().Timer1;
    do {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } while (timer.isEnabled() || timer.TickRunning());
    const double cpu = processCpuSeconds() - cpuStart;
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) * 1e-9;
    b.board.SetObserver(nullptr);
    // The period once the ramp has reached its last stage (tick 9 on).
    std::vector<qint64> periods;
    for (std::size_t i = 9; i < arrivalsMs.size(); ++i) {
        periods.push_back(arrivalsMs[i] - arrivalsMs[i - 1]);
    }
    std::sort(periods.begin(), periods.end());
    const qint64 median = periods.empty() ? 0 : periods[periods.size() / 2];
    const double percent = 100.0 * cpu / elapsed;
    std::printf("jog held %d s at %s mm/min: %zu reports, tick period median %lld ms (move %.1f "
                "ms), processor %.2f %% of one core\n",
                seconds, jogSpeed, arrivalsMs.size(), static_cast<long long>(median), longestMoveMs,
                percent);
    bool ok = movesFit ? report(median >= 80 && median <= 90, "tick period 80 to 90 ms")
                       : report(median >= longestMoveMs - 1 && median <= longestMoveMs + 2,
                                "tick period the move's time, plus at most 2 ms");
    return report(percent < 5.0, "under 5 % of one core") && ok;
}

} // namespace

int main(int argc, char** argv) {
    bench::UseOffscreenWithoutDisplay();
    QApplication application(argc, argv);
    const std::string what = argc > 1 ? argv[1] : "all";
    const auto number = [&](long fallback) { return argc > 2 ? std::atol(argv[2]) : fallback; };
    bool ok = true;
    if (what == "live" || what == "all") {
        ok = live(static_cast<std::size_t>(number(100000))) && ok;
    }
    if (what == "simulate" || what == "all") {
        ok = simulate() && ok;
    }
    if (what == "pace" || what == "all") {
        ok = pace(static_cast<int>(number(10))) && ok;
    }
    if (what == "jog" || what == "all") {
        const int seconds = static_cast<int>(number(10));
        ok = jog(seconds, "2000", true) && ok; // 1060 steps at period 28: 58 ms
        ok = jog(seconds, "800", false) && ok; // at period 71: 148 ms
    }
    if (what != "live" && what != "simulate" && what != "pace" && what != "jog" && what != "all") {
        std::fprintf(
            stderr,
            "usage: run_bench [live [LINES] | simulate | pace [SECONDS] | jog [SECONDS]]\n");
        return 2;
    }
    return ok ? 0 : 1;
}

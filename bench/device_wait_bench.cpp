// How much processor time the program spends while it waits for the board's acknowledgement.
// The virtual board answers a move of exactly 2 seconds on the real clock; the wait sleeps in
// the event loop in the meantime, so the whole process should stay far below 5% of one core
// (a polling wait would take 100%).
#include "app/operator_messages.h"
#include "app/window_status.h"
#include "device/hid_notify.h"
#include "device/report_sender.h"
#include "device/status_report.h"
#include "device/steady_timeline.h"
#include "device/virtual_board.h"
#include "device/waitable_timer.h"

#include <QApplication>
#include <QLineEdit>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <memory>

namespace {

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

class NoMessages : public app::OperatorMessages {
public:
    void Show(const QString&) override { ++shown; }
    bool Confirm(const QString&) override { return ++shown > 0; }
    int shown = 0;
};

// The window's side of the link, as the main window wires it.
class Window : public QWidget, public device::HidNotifyHandler {
public:
    explicit Window(device::HidLibrary& hid) : hid_(hid) {}
    void OnPlugged(device::DeviceHandle) override {}
    void OnUnplugged(device::DeviceHandle) override {}
    void OnChanged() override { device::HandleChanged(hid_); }
    void OnRead(device::DeviceHandle handle) override {
        device::HandleRead(hid_, handle, BufferIn, fields);
    }

    QLineEdit Text9;
    NoMessages messages;
    device::Report BufferIn{};
    app::WindowStatus fields{&Text9, messages, {}};

private:
    device::HidLibrary& hid_;
};

void EnsureApplication() {
    static std::unique_ptr<QApplication> application;
    if (application) {
        return;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "device_wait_bench";
    static char* argv[] = {name, nullptr};
    application = std::make_unique<QApplication>(argc, argv);
}

// X: 2000 steps at period 508 = 2000 x 508 / 508000 s = 2 s.
device::Report TwoSecondMove() {
    device::Report report{};
    report[1] = 9;
    report[3] = 2000 >> 8;
    report[4] = 2000 & 0xFF;
    report[10] = 508 >> 8;
    report[11] = 508 & 0xFF;
    return report;
}

void BM_AckWaitProcessorTime(benchmark::State& state) {
    EnsureApplication();
    device::SteadyTimeline clock;
    device::VirtualBoard board(clock);
    Window window(board);
    device::HIDDLLInterface link(board, window);
    link.ConnectDevice(&window);
    QCoreApplication::processEvents(); // the changed notification switches on the reports
    device::clsWaitableTimer DelayTimer(clock);
    device::ReportSender sender(board, DelayTimer, clock, window.fields, window.fields);

    double cpuSeconds = 0;
    double wallSeconds = 0;
    for (auto _ : state) {
        window.Text9.setText(QStringLiteral("OA"));
        const double cpuStart = ProcessCpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        sender.Send(TwoSecondMove(), false, 0);
        wallSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        cpuSeconds += ProcessCpuSeconds() - cpuStart;
    }
    link.DisconnectDevice();

    const double percent = 100.0 * cpuSeconds / wallSeconds;
    state.counters["cpu_percent_of_one_core"] = percent;
    state.counters["wait_s"] = wallSeconds / static_cast<double>(state.iterations());
    if (window.Text9.text() != "OK" || window.messages.shown != 0) {
        state.SkipWithError("the board's acknowledgement did not end the wait");
    } else if (percent >= 5.0) {
        state.SkipWithError("the wait used 5% or more of one core");
    }
}

BENCHMARK(BM_AckWaitProcessorTime)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

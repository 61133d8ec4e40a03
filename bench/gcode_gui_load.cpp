// The window's Load of a G-code file, timed as the operator sees it (the dialog aside): the
// filter pass into temp.txt, the rows read back into the table, the preview drawn.
//   gcode_gui_load FILE      prints the time, the rows and the table model's bytes per row
// Runs on the offscreen platform when no display is set.
#include "app/main_form.h"
#include "app/operator_messages.h"
#include "device/steady_timeline.h"
#include "device/virtual_board.h"
#include "gcode/program_table_model.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

namespace {

class PrintedMessages : public app::OperatorMessages {
public:
    void Show(const QString& text) override {
        std::fprintf(stderr, "message: %s\n", text.toLocal8Bit().constData());
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gcode_gui_load FILE\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QTemporaryDir dir;
    device::SteadyTimeline clock;
    device::VirtualBoard board(clock);
    PrintedMessages messages;
    app::MainForm::Services services;
    services.hid = &board;
    services.messages = &messages;
    services.clock = &clock;
    services.programDirectory = dir.path();
    services.fallbackDirectory = dir.filePath("fallback");
    app::MainForm form(services);
    form.Startup();
    form.show();
    QApplication::processEvents();
    const QString file = QString::fromLocal8Bit(argv[1]);
    form.SetFileChooser([&](const QString&, const QString&) { return file; });

    QElapsedTimer timer;
    timer.start();
    form.LoadGcode_Click();
    const qint64 ms = timer.elapsed();
    const auto& model = *form.controls().Grid1Model;
    const int rows = model.rowCount();
    std::printf("%d rows loaded and previewed in %lld ms (of which 100 ms is the designed pause); "
                "table model %.1f bytes per row\n",
                rows, static_cast<long long>(ms),
                rows > 0 ? static_cast<double>(model.MemoryBytes()) / rows : 0.0);
    return 0;
}

// The window's Load of a G-code file, timed as the operator sees it (the dialog aside): the
// filter pass into temp.txt, the rows read back into the table, the preview drawn.
//   gcode_gui_load FILE      prints the time, the rows and the table model's bytes per row,
//                            then a hash of the plot and of what the window shows after it,
//                            to compare a change that should draw and show the same
// Runs on the offscreen platform when no display is set.
#include "bench/bench_window.h"
#include "gcode/program_table_model.h"

#include "gcode/toolpath_view.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gcode_gui_load FILE\n");
        return 2;
    }
    bench::UseOffscreenWithoutDisplay();
    QApplication application(argc, argv);
    bench::BenchWindow b;
    QElapsedTimer timer;
    timer.start();
    b.Load(QString::fromLocal8Bit(argv[1]));
    const qint64 ms = timer.elapsed();
    const auto& model = *b.form->controls().Grid1Model;
    const int rows = model.rowCount();
    std::printf("%d rows loaded and previewed in %lld ms (of which 100 ms is the designed pause); "
                "table model %.1f bytes per row\n",
                rows, static_cast<long long>(ms),
                rows > 0 ? static_cast<double>(model.MemoryBytes()) / rows : 0.0);
    // What the preview drew and left on show: the plot, the check, the displays and echoes.
    const app::MainControls& c = b.form->controls();
    const QImage& plot = c.Picture1->Image();
    QString shown = c.CheckText->text();
    for (const QLineEdit* field : b.form->findChildren<QLineEdit*>()) {
        shown += QLatin1Char('|') + field->objectName() + QLatin1Char('=') + field->text();
    }
    std::printf("plot %08x, shown %08x\n",
                static_cast<unsigned>(qHash(QByteArrayView(plot.constBits(), plot.sizeInBytes()))),
                static_cast<unsigned>(qHash(shown)));
    return 0;
}

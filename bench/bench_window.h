// A main window on the virtual board and the real clock, started in a fresh program folder,
// for the benchmarks that time the window. Messages are kept and written to stderr; none
// waits for an answer.
#pragma once

#include "app/main_form.h"
#include "app/operator_messages.h"
#include "device/steady_timeline.h"
#include "device/virtual_board.h"

#include <QApplication>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace bench {

class KeptMessages : public app::OperatorMessages {
public:
    void Show(const QString& text) override {
        shown << text;
        std::fprintf(stderr, "message: %s\n", text.toLocal8Bit().constData());
    }
    bool Confirm(const QString& text) override {
        Show(text);
        return true;
    }
    QStringList shown;
};

struct BenchWindow {
    BenchWindow() {
        app::MainForm::Services services;
        services.hid = &board;
        services.messages = &messages;
        services.clock = &clock;
        services.programDirectory = dir.path();
        services.fallbackDirectory = dir.filePath("fallback");
        // A live run keeps its journal, as the program does: its cost is part of the run's.
        services.journalPath = dir.filePath("state/run-journal.txt");
        form = std::make_unique<app::MainForm>(services);
        form->Startup();
        form->resize(1280, 800);
        form->show();
        QApplication::processEvents();
        messages.shown.clear();
    }

    // The Load button with this file chosen in the dialog.
    void Load(const QString& path) {
        form->SetFileChooser([path](const QString&, const QString&, QString&) { return path; });
        form->LoadGcode_Click();
    }

    QTemporaryDir dir;
    device::SteadyTimeline clock;
    device::VirtualBoard board{clock};
    KeptMessages messages;
    std::unique_ptr<app::MainForm> form;
};

// The offscreen platform unless there is a display; call before the QApplication exists.
inline void UseOffscreenWithoutDisplay() {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

} // namespace bench

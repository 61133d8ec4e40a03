// The main window's loaded program: what the Load button and the program run keep between
// clicks besides the window-level fields.
#pragma once

#include "app/main_form.h"
#include "app/wait_window.h"
#include "gcode/program.h"

#include <QPointer>
#include <memory>

namespace app {

struct MainForm::ProgramLink {
    // The open dialog; tests answer it instead.
    FileChooser chooseFile;
    QPointer<WaitWindow> wait; // the "Please Wait" notice, made at the first load
    // A load or its preview pass is in progress. They let events run to keep the window
    // alive, so a second Load or a Run click could arrive in the middle: both are ignored.
    bool busy = false;
    std::shared_ptr<const gcode::Program> program; // what Grid1 shows; null before a load
};

// While a load or preview runs, the window keeps painting and the wait window's bar moves:
// after this much input or this many rows the handler lets pending events run.
inline constexpr qint64 LoadChunkBytes = qint64{1} << 20;
inline constexpr std::size_t PreviewRowsPerStep = 32768;

} // namespace app

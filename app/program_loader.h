// The Load button: the open dialog, the file read into Grid1 (the original filter's lines into
// the working copy temp.txt on the way), the position reset and the preview pass.
#pragma once

#include "app/loaded_program.h"
#include "app/main_controls.h"
#include "app/motion_state.h"
#include "app/settings_fields.h"
#include "app/wait_window.h"

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QByteArray;
class QFile;

namespace device {
class clsWaitableTimer;
}

namespace motion {
class EarlyPreview;
}

namespace app {

class OperatorMessages;
class RunController;

// The open dialog's filters: every name CAM programs give G-code files at once, then the three
// of the original program, then every file.
extern const QString GcodeFilter;

// Where the open dialog first opens: LastFolder, unless it is gone (or never set) or it is the
// folder of an installed program, which holds no G-code; the user's home then.
QString OpenDialogFolder(const QString& lastFolder, const QString& programDirectory,
                         bool programDirectoryWritable, const QString& home);

class ProgramLoader {
public:
    // The open dialog: the chosen path, or an empty text on cancel. `selectedFilter` comes in
    // as the filter to show first and goes out as the one the operator used. Tests answer it.
    using FileChooser = std::function<QString(const QString& filter, const QString& folder,
                                              QString& selectedFilter)>;

    struct Uses {
        const MainControls& controls;
        LoadedProgram& loaded;
        MotionState& motion;
        MotionGuard& guard;
        RunController& run; // for the preview pass
        OperatorMessages& messages;
        std::function<device::clsWaitableTimer*()> delayTimer; // made at start-up
        QString& LastFolder;
        std::function<QString()> dialogFolder; // where the dialog opens (from LastFolder)
        QString& openFilter;                   // the filter used last, remembered per user
        std::function<void()> saveSettings;
        std::function<QString()> tempFilePath;
        const SettingsFields& settings; // the arc tolerance
    };

    ProgramLoader(Uses uses, FileChooser chooser);

    void LoadGcode_Click();
    // The same for a file named from elsewhere (a resume after a crash), without the dialog.
    void LoadFile(const QString& path);
    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    bool Busy() const { return busy_; }
    WaitWindow* Wait() const { return wait_; }

private:
    void load(const std::function<QString()>& choose);
    void loadChosenFile(const QString& path);
    std::shared_ptr<gcode::Program> readFile(QFile& gcodeFile, motion::EarlyPreview& early);
    void tempFailed(const QString& what, const QString& why);
    void outOfMemory();
    void pause(int ms);

    Uses u_;
    FileChooser chooseFile_;
    QPointer<WaitWindow> wait_; // the "Please Wait" notice, made at the first load
    // A load or its preview pass is in progress. They let events run to keep the window alive,
    // so a second Load or a Run click could arrive in the middle: both are ignored.
    bool busy_ = false;
};

} // namespace app

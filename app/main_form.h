// The main window: builds every control, runs the start-up sequence, keeps the settings file in
// step with the settings fields, locks the operation controls while a program runs or a device
// message is open, and wires the buttons to the controllers that do the work (the loader, the
// run, the position panel) and the board's notifications to the device link.
#pragma once

#include "app/loaded_program.h"
#include "app/main_controls.h"
#include "app/motion_state.h"
#include "app/program_loader.h"
#include "app/settings_fields.h"
#include "app/settings_file.h"
#include "app/window_memory.h"
#include "device/hid_notify.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <memory>

namespace device {
class HidLibrary;
class Timeline;
} // namespace device

namespace app {

class DeviceLink;
class HelpWindow;
class JogController;
class JournalKeeper;
class OperatorMessages;
class PositionPanel;
class RunController;
class WaitWindow;

class MainForm : public QWidget, public device::HidNotifyHandler {
    Q_OBJECT
public:
    // What the window is given from outside, so that tests can supply their own.
    struct Services {
        device::HidLibrary* hid = nullptr;
        OperatorMessages* messages = nullptr;
        QString programDirectory; // the folder of the executable
        bool programDirectoryWritable = true;
        QString fallbackDirectory; // per-user folder used when the above is read-only
        QString cacheDirectory;    // per-user folder for temp.txt in that case
        QString homeDirectory;     // the open dialog's folder when LastFolder is no use
        QString windowMemoryPath;  // the window's place and the dialog's filter; none: kept nowhere
        QString journalPath;       // the live run's resume point; none: kept nowhere
        QStringList helpFolders;   // where help.rtf is looked for, in order
        device::Timeline* clock = nullptr; // waits and time-outs; none: the steady clock
    };

    explicit MainForm(Services services, QWidget* parent = nullptr);
    ~MainForm() override;

    // The start-up sequence; run once before the window is first shown.
    void Startup();
    // Where the window opens: where it was last closed when that still fits the screen, else
    // at a size that fits the screen's free area. Run before the window is first shown.
    void PlaceOnScreen();

    const MainControls& controls() const { return ui_; }

    // Lock and unlock the operation controls, always the same 25 in the same order.
    void DisableControls();
    void EnableControls();

    void LoadSettings();
    void SaveSettings();

    // Where quorvane.cfg and the working copy temp.txt live.
    QString DataFolder() const { return dataFolder_; }
    QString SettingsPath() const;
    QString TempFilePath() const;
    int SettingsWrites() const { return settingsWrites_; }

    QString LastFolder; // the folder the open dialog shows first

    // The board's notifications, on the window's thread.
    void OnPlugged(device::DeviceHandle handle) override;
    void OnUnplugged(device::DeviceHandle handle) override;
    void OnChanged() override;
    void OnRead(device::DeviceHandle handle) override;

    // The buttons' handlers, as a click runs them.
    void LoadGcode_Click(const QString& path = {}); // a path: that file, without the dialog
    void Run2_Click();
    void Command3_Click(); // STOP
    void Command4_Click(); // GOTO
    void LiftZ_Click();
    // At start-up: a live run that never finished (the program or the computer stopped) is
    // offered to go on, its file loaded and the displays put where its last finished row left
    // the machine, once the file and the settings are found unchanged.
    void OfferUnfinishedRun();
    void RunFromHere(int row); // "Run from here" on the table's row
    JogController& Jog() { return *jog_; }
    void SetFileChooser(ProgramLoader::FileChooser chooser);

    // Where the machine is (positions, display texts, direction bits), the plot pen and the
    // run flags. After changing the machine from outside, ShowPositions mirrors it.
    MotionState& Motion() { return motion_; }
    void ShowPositions();
    const LoadedProgram& Program() const { return loaded_; }
    bool ProgramBusy() const; // a load or its preview pass is running
    bool Running() const;     // a run (or a preview) is in progress
    bool Paused() const;      // a run holds its place until Run goes on
    int ResumeRow() const;    // where a run that stopped early can go on, or -1
    WaitWindow* Wait() const; // the "Please Wait" notice, once made
    DeviceLink& Device() { return *device_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void connectSettingsBehaviour();
    void connectMotionControls();
    void connectViewControls();
    void setpulses_Change();
    void Text16_Change();
    void Check1_Click();
    void ArcTolerance_Change();
    void Clearance_Change();
    void connectRunControls();
    void Command5_Click();

    void chooseDataFolder();
    void prepareGrid();
    void applyDefaultSettings();
    void applySettingsLines(const SettingsLines& lines);
    SettingsLines currentSettingsLines() const;

    Services services_;
    MainControls ui_;
    QPointer<HelpWindow> help_;
    QString dataFolder_;
    QString tempFolder_;
    WindowMemory memory_;
    QString openFilter_;
    int settingsWrites_ = 0;
    bool savingBlocked_ = false; // the file exists but could not be read: never overwrite it
    bool saveFailing_ = false;   // the operator has been told that saving fails
    // While the stored values go in, their fields' saves wait for the one LoadSettings makes.
    bool applyingSettings_ = false;

    MotionState motion_;
    LoadedProgram loaded_;
    MotionGuard guard_;
    SettingsFields settings_;
    // Before the controllers, which use it until they go.
    std::unique_ptr<DeviceLink> device_;
    std::unique_ptr<JournalKeeper> journal_;
    std::unique_ptr<RunController> run_;
    std::unique_ptr<PositionPanel> position_;
    std::unique_ptr<JogController> jog_;
    std::unique_ptr<ProgramLoader> loader_;
};

} // namespace app

// The main window: owns every control and the window-level state, runs the start-up sequence,
// keeps the settings file in step with the settings fields, and locks the operation controls
// while a program runs or a device message is open.
#pragma once

#include "app/main_controls.h"
#include "app/settings_file.h"
#include "device/hid_notify.h"
#include "gcode/extent.h"
#include "motion/program_run.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

namespace device {
class HidLibrary;
class ReportSender;
class Timeline;
class clsWaitableTimer;
} // namespace device

class QFile;

namespace gcode {
class Program;
}

namespace app {

class OperatorMessages;
class HelpWindow;
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
        QString fallbackDirectory;         // per-user folder used when the above is read-only
        QStringList helpFolders;           // where help.rtf is looked for, in order
        device::Timeline* clock = nullptr; // waits and time-outs; none: the steady clock
    };

    explicit MainForm(Services services, QWidget* parent = nullptr);
    ~MainForm() override;

    // The start-up sequence; run once before the window is first shown.
    void Startup();

    const MainControls& controls() const { return ui_; }

    // Lock and unlock the operation controls, always the same 25 in the same order.
    void DisableControls();
    void EnableControls();
    std::array<QWidget*, 25> LockedControls() const;

    void LoadSettings();
    void SaveSettings();

    // Where quorvane.cfg and the working copy temp.txt live.
    QString DataFolder() const { return dataFolder_; }
    QString SettingsPath() const;
    int SettingsWrites() const { return settingsWrites_; }

    // Window-level fields set at start-up.
    QString LastFolder;
    double PlotScale = 19.2;
    int PreviewDone = 0;
    int PassToggle = 0;
    double PrevPlotX = 50, PlotX = 50;
    double PrevPlotY = 3500, PlotY = 3500;
    int LineCount = 0;
    double XPosition = 0, YPosition = 0, ZPosition = 0;
    QString XDistanceText, YDistanceText, ZDistanceText;

    // Device link (main_form_device.cpp). The board's notifications, on the window's thread.
    void OnPlugged(device::DeviceHandle handle) override;
    void OnUnplugged(device::DeviceHandle handle) override;
    void OnChanged() override;
    void OnRead(device::DeviceHandle handle) override;
    // The one way every motion report goes out: in Simulate mode the Text16 delay, otherwise
    // the write and the wait for the board's "OK". GOTO and program lines write "OA" to Text9
    // first, so that a stale "OK" does not pass for the new acknowledgement.
    void SendReport(const device::Report& BufferOut, bool simulate);
    device::ReportSender& Sender();
    std::unique_ptr<device::clsWaitableTimer> DelayTimer;
    device::Report BufferIn{};
    int LimitStop = 0; // set by a limit or emergency-stop report; motions clear it when they start

    // The loaded program (main_form_load.cpp) and the program run (main_form_run.cpp).
    void LoadGcode_Click();
    void Run2_Click();
    // The open dialog: the chosen path, or an empty text on cancel. Tests answer it.
    using FileChooser = std::function<QString(const QString& filter, const QString& folder)>;
    void SetFileChooser(FileChooser chooser);
    const gcode::Program* LoadedProgram() const; // what Grid1 shows; null before a load
    bool ProgramBusy() const;                    // a load or its preview pass is running
    WaitWindow* Wait() const;                    // the "Please Wait" notice, once made
    QString TempFilePath() const;                // the working copy temp.txt
    QString GcodeFile;
    int TempLineCount = 0;
    gcode::Extent XExtent, YExtent; // the number 0, then the largest X and Y word texts
    int RunMode = 0;                // 0 preview, 1 live, 3 simulated
    double LastCutZ = 0;            // lowest Z since the last rapid row, for the pass colours
    int XDirection = 0, YDirection = 0, ZDirection = 0; // the bits as last sent

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void connectSettingsBehaviour();
    void setpulses_Change();
    void Text16_Change();
    void Check1_Click();
    void Command5_Click();

    void chooseDataFolder();
    void prepareGrid();
    void applyDefaultSettings();
    void applySettingsLines(const SettingsLines& lines);
    SettingsLines currentSettingsLines() const;

    void connectDeviceLink();
    void disconnectDeviceLink();
    void createDelayTimer();

    void connectProgramControls();
    void loadChosenFile(const QString& path);
    std::shared_ptr<gcode::Program> filterAndReadBack(QFile& gcodeFile);
    void runProgram();
    void previewRows();
    motion::MachineState machineFromFields() const;
    void storeMachine(const motion::MachineState& machine);
    motion::PlanSettings planSettingsFromFields() const;
    motion::RunSpeeds runSpeedsFromFields() const;
    void showAxisEchoes(const motion::PlannedMove& move);
    void showReportEchoes(const motion::MoveReport& report);

    Services services_;
    MainControls ui_;
    QPointer<HelpWindow> help_;
    QString dataFolder_;
    int settingsWrites_ = 0;
    bool savingBlocked_ = false; // the file exists but could not be read: never overwrite it
    bool saveFailing_ = false;   // the operator has been told that saving fails
    struct ProgramLink;
    std::unique_ptr<ProgramLink> programLink_;
    struct DeviceLink;
    std::unique_ptr<DeviceLink> deviceLink_; // last: disconnects before the controls go
};

} // namespace app

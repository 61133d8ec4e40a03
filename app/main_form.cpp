#include "app/main_form.h"

#include "app/journal_keeper.h"

#include "encoding/number_text.h"
#include "encoding/thousandths.h"

#include "app/device_link.h"
#include "app/field_text.h"
#include "app/help_window.h"
#include "app/jog_controller.h"
#include "app/operator_messages.h"
#include "app/position_panel.h"
#include "app/run_controller.h"
#include "app/window_mirror.h"
#include "device/status_report.h"
#include "device/tick_timer.h"
#include "gcode/arc.h"
#include "gcode/program_table_model.h"
#include "gcode/toolpath_view.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QTableView>
#include <QToolButton>

#include <algorithm>
#include <array>
#include <cmath>

namespace app {
namespace {

// The settings file holds 8-bit text in the system's own encoding, as the fields' core texts.
QString fromFile(const std::string& line) {
    return FieldText(line);
}

std::string toFile(const QString& text) {
    return CoreText(text);
}

std::filesystem::path toPath(const QString& folder) {
    return std::filesystem::path(QDir::toNativeSeparators(folder).toStdWString());
}

int twips(const QWidget* widget, int value) {
    return static_cast<int>(std::lround(value * widget->logicalDpiX() / 1440.0));
}

} // namespace

MainForm::MainForm(Services services, QWidget* parent)
    : QWidget(parent), services_(std::move(services)), ui_(BuildMainControls(this)),
      memory_(services_.windowMemoryPath), openFilter_(memory_.OpenFilter()), settings_(ui_) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Quorvane Gcode USB Test BetaV1.7 2006"));
    resize(1440, 880); // until PlaceOnScreen fits it to the screen it opens on
    device_ = std::make_unique<DeviceLink>(DeviceLink::Uses{
        services_.hid,
        services_.clock,
        services_.messages,
        this,
        this,
        ui_.StatusField(),
        {{}, [this] { DisableControls(); }, [this] { EnableControls(); }},
        [this](const encoding::MotionReport& report) { app::ShowPacket(ui_, report); },
        &motion_,
        [this] { ShowPositions(); },
        ui_.BoardState});
    OperatorMessages& messages = device_->Messages();
    journal_ = std::make_unique<JournalKeeper>(services_.journalPath, device_->Clock());
    run_ = std::make_unique<RunController>(
        RunController::Uses{{ui_, motion_, guard_, settings_, messages, *device_},
                            loaded_,
                            [this] { DisableControls(); },
                            [this] { EnableControls(); },
                            *journal_});
    position_ = std::make_unique<PositionPanel>(
        PositionPanel::Uses{ui_, motion_, guard_, settings_, messages, *device_});
    ui_.Timer1 = new device::TickTimer(device_->Clock(), this);
    ui_.Timer1->setObjectName(QStringLiteral("Timer1"));
    jog_ = std::make_unique<JogController>(
        JogController::Uses{{ui_, motion_, guard_, settings_, messages, *device_}, *ui_.Timer1});
    loader_ = std::make_unique<ProgramLoader>(
        ProgramLoader::Uses{ui_, loaded_, motion_, guard_, *run_, messages,
                            [this] { return device_->DelayTimer(); }, LastFolder,
                            [this] {
                                return OpenDialogFolder(LastFolder, services_.programDirectory,
                                                        services_.programDirectoryWritable,
                                                        services_.homeDirectory);
                            },
                            openFilter_, [this] { SaveSettings(); },
                            [this] { return TempFilePath(); }, settings_},
        [this](const QString& filter, const QString& folder, QString& selectedFilter) {
            return QFileDialog::getOpenFileName(this, QStringLiteral("Open"), folder, filter,
                                                &selectedFilter);
        });
    connectSettingsBehaviour();
    connectMotionControls();
    connectViewControls();
    connect(ui_.Command5, &QPushButton::clicked, this, &MainForm::Command5_Click);
    connect(ui_.Command1, &QPushButton::clicked, this,
            [this] { ui_.Picture1->SetLogicalSize(9270); });
    connect(ui_.Command2, &QPushButton::clicked, this,
            [this] { ui_.Picture1->SetLogicalSize(4635); });
}

// The view's buttons, and the link between the view and the table: a click on the path picks
// its row in the table (so Run from here can start from a place picked in the view), and the
// table's row is drawn thick in the view.
void MainForm::connectViewControls() {
    gcode::ToolpathView* view = ui_.Picture1;
    const std::pair<QToolButton*, gcode::ViewKind> sides[] = {
        {ui_.ViewTop, gcode::ViewKind::Top},
        {ui_.ViewFront, gcode::ViewKind::Front},
        {ui_.ViewSide, gcode::ViewKind::Side},
        {ui_.View3D, gcode::ViewKind::Turned}};
    for (const auto& [button, side] : sides) {
        connect(button, &QToolButton::clicked, view, [view, side] { view->ShowView(side); });
    }
    connect(view, &gcode::ToolpathView::ViewChanged, this, [sides](gcode::ViewKind shown) {
        for (const auto& [button, side] : sides) {
            button->setChecked(side == shown);
        }
    });
    connect(ui_.ViewFit, &QToolButton::clicked, view, &gcode::ToolpathView::Fit);
    connect(ui_.ShowRapids, &QCheckBox::toggled, view, &gcode::ToolpathView::ShowRapids);
    connect(view, &gcode::ToolpathView::RowPicked, this, [this](int row) {
        const QModelIndex index = ui_.Grid1Model->index(row, 0);
        ui_.Grid1->setCurrentIndex(index);
        ui_.Grid1->scrollTo(index, QAbstractItemView::PositionAtCenter);
    });
    connect(ui_.Grid1->selectionModel(), &QItemSelectionModel::currentChanged, view,
            [view](const QModelIndex& current) {
                view->SelectRow(current.isValid() ? std::optional<std::size_t>(current.row())
                                                  : std::nullopt);
            });
}

MainForm::~MainForm() {
    delete ui_.Timer1; // its wake-ups live on the device link's clock, which goes first
    ui_.Timer1 = nullptr;
}

void MainForm::Startup() {
    ui_.Run2->setEnabled(false);
    motion_.pen = gcode::PlotPen(); // scale 19.2, first pass colour, pen at (50, 3500)
    loaded_.PreviewDone = 0;
    ui_.Picture1->SetLogicalSize(4635);
    loaded_.LineCount = 0;
    device_->Connect(); // its result does not matter: the window starts without a board too
    device_->CreateDelayTimer();
    motion_.machine = motion::MachineState(); // every axis at 0, shown as 0000.000
    prepareGrid();
    ShowPositions();
    LoadSettings();
}

void MainForm::connectMotionControls() {
    connect(ui_.LoadGcode, &QPushButton::clicked, this, [this] { LoadGcode_Click(); });
    connect(ui_.Run2, &QPushButton::clicked, this, &MainForm::Run2_Click);
    connect(ui_.Command3, &QPushButton::clicked, this, &MainForm::Command3_Click);
    connect(ui_.Command4, &QPushButton::clicked, this, &MainForm::Command4_Click);
    const std::pair<QPushButton*, motion::Axis> zeros[] = {{ui_.XResetZeroButton, motion::Axis::X},
                                                           {ui_.YResetZeroButton, motion::Axis::Y},
                                                           {ui_.ZResetZeroButton, motion::Axis::Z}};
    for (const auto& [button, axis] : zeros) {
        connect(button, &QPushButton::clicked, this,
                [this, axis = axis] { position_->ResetZero_Click(axis); });
    }

    // The keyboard: Escape stops wherever the focus is (an operator reaches it faster than the
    // mouse); Ctrl+O and Ctrl+R click Load and Run when they can be clicked. No key ever jogs.
    auto* stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stop, &QShortcut::activated, this, &MainForm::Command3_Click);
    const std::pair<QPushButton*, QKeySequence> keys[] = {
        {ui_.LoadGcode, QKeySequence(Qt::CTRL | Qt::Key_O)},
        {ui_.Run2, QKeySequence(Qt::CTRL | Qt::Key_R)}};
    for (const auto& [button, key] : keys) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, button, [button = button] {
            if (button->isEnabled()) {
                button->click();
            }
        });
    }
    connectRunControls();
    ui_.LoadGcode->setToolTip(QStringLiteral("Load a G-code file (Ctrl+O)"));
    ui_.Run2->setToolTip(QStringLiteral("Run the loaded program (Ctrl+R)"));
    ui_.Command3->setToolTip(QStringLiteral("Stop the run once the current line is done (Esc)"));
}

// Pause, Lift Z, the feed override and "Run from here", with their keys: Ctrl+P pauses
// wherever the focus is, Ctrl+Up and Ctrl+Down step the override, Ctrl+Shift+R runs from the
// selected row.
void MainForm::connectRunControls() {
    connect(ui_.Pause, &QPushButton::clicked, this, [this] { run_->Pause_Click(); });
    auto* pause = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), this);
    connect(pause, &QShortcut::activated, this, [this] { run_->Pause_Click(); });
    ui_.Pause->setToolTip(
        QStringLiteral("Pause once the current line is done; Run goes on (Ctrl+P)"));
    connect(ui_.LiftZ, &QPushButton::clicked, this, &MainForm::LiftZ_Click);
    auto* lift = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    connect(lift, &QShortcut::activated, this, [this] {
        if (ui_.LiftZ->isEnabled()) {
            LiftZ_Click();
        }
    });
    ui_.LiftZ->setToolTip(QStringLiteral(
        "Raise Z to the clearance above the highest Z the last run reached (Ctrl+L)"));
    for (const auto& [key, step] : {std::pair{Qt::Key_Up, 1}, std::pair{Qt::Key_Down, -1}}) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | key), this);
        connect(shortcut, &QShortcut::activated, this,
                [this, step = step] { ui_.FeedOverride->stepBy(step); });
    }
    auto* fromHere = new QAction(QStringLiteral("Run from here"), ui_.Grid1);
    fromHere->setObjectName(QStringLiteral("RunFromHere"));
    fromHere->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    fromHere->setShortcutContext(Qt::WindowShortcut);
    ui_.Grid1->addAction(fromHere);
    ui_.Grid1->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(fromHere, &QAction::triggered, this, [this] {
        if (ui_.Run2->isEnabled() || run_->Paused()) {
            RunFromHere(ui_.Grid1->currentIndex().row());
        }
    });
}

void MainForm::RunFromHere(int row) {
    run_->RunFromHere(row);
}

void MainForm::OfferUnfinishedRun() {
    const std::optional<motion::RunJournal> journal = journal_->Read();
    if (!journal || guard_.Busy()) {
        return;
    }
    OperatorMessages& messages = device_->Messages();
    if (journal->ResumeRow() >= journal->rows) {
        journal_->Clear(); // every row was acknowledged: only the last words were missing
        return;
    }
    if (!messages.Confirm(FieldText(motion::ResumeOfferText(*journal)) +
                          QStringLiteral("\n\nCancel forgets this run."))) {
        journal_->Clear();
        return;
    }
    const QString path = QString::fromStdString(journal->gcodePath);
    if (const auto refusal = motion::ResumeRefusal(*journal, ResumeCheckOf(path, settings_))) {
        journal_->Clear();
        messages.Show(FieldText(*refusal) + QStringLiteral(" The run cannot go on from there."));
        return;
    }
    LoadGcode_Click(path);
    if (loaded_.PreviewDone != 1 || loaded_.contentHash != journal->contentHash ||
        static_cast<std::size_t>(loaded_.LineCount) != journal->rows) {
        return; // the load said why
    }
    // Where the last finished row left the machine, in the program's frame.
    for (const motion::Axis a : motion::kAxes) {
        motion::AxisState& axis = motion_.machine[a];
        axis.positionText = journal->positions[motion::index(a)];
        axis.positionMm = encoding::NumberOf(axis.positionText).value_or(0.0);
    }
    ShowPositions();
    run_->ShowResumePoint(journal->ResumeRow());
    const QString question =
        QStringLiteral("The displays now show where row %1 left the machine. Is it there?\n\n"
                       "OK goes on to the approach to row %2. Cancel leaves the axes to be "
                       "zeroed at the program's origin first; then choose Run from here.")
            .arg(journal->ResumeRow())
            .arg(journal->ResumeRow() + 1);
    if (messages.Confirm(question)) {
        run_->RunFromHere(static_cast<int>(journal->ResumeRow()));
        return;
    }
    for (std::string& why : motion_.unverified) {
        why = "Not verified since the program started again after an unfinished run. Zero this "
              "axis once you know where it stands.";
    }
    ShowPositions();
}

void MainForm::LiftZ_Click() {
    position_->LiftZ_Click(run_->SafeZ());
}

void MainForm::LoadGcode_Click(const QString& path) {
    if (!guard_.Busy()) {
        run_->EndPause(); // its rows go with the program they came from
    }
    if (path.isEmpty()) {
        loader_->LoadGcode_Click();
    } else {
        loader_->LoadFile(path);
    }
}

void MainForm::Run2_Click() {
    run_->Run2_Click();
}

void MainForm::Command3_Click() {
    run_->Command3_Click();
}

void MainForm::Command4_Click() {
    position_->Command4_Click();
}

void MainForm::SetFileChooser(ProgramLoader::FileChooser chooser) {
    loader_->SetFileChooser(std::move(chooser));
}

void MainForm::ShowPositions() {
    app::ShowPositions(ui_, motion_);
}

bool MainForm::ProgramBusy() const {
    return loader_->Busy();
}

bool MainForm::Running() const {
    return run_->Running();
}

bool MainForm::Paused() const {
    return run_->Paused();
}

int MainForm::ResumeRow() const {
    return run_->ResumeRow();
}

WaitWindow* MainForm::Wait() const {
    return loader_->Wait();
}

QString MainForm::TempFilePath() const {
    return QDir(tempFolder_.isEmpty() ? DataFolder() : tempFolder_)
        .filePath(QStringLiteral("temp.txt"));
}

void MainForm::PlaceOnScreen() {
    const QScreen* where = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (where == nullptr) {
        return;
    }
    const QRect available = where->availableGeometry();
    if (!memory_.Geometry().isEmpty() && restoreGeometry(memory_.Geometry()) &&
        FitsOnScreen(geometry(), available)) {
        return;
    }
    // The plot gets a usable square beside the table and the settings at 1440 x 880.
    setGeometry(FittedGeometry(QSize(1440, 880), minimumSizeHint(), available));
}

void MainForm::OnPlugged(device::DeviceHandle handle) {
    device::HandlePlugged(device_->Hid(), handle);
    device_->ShowBoardPresence();
}

void MainForm::OnUnplugged(device::DeviceHandle handle) {
    device_->OnUnplugged(handle);
    device_->ShowBoardPresence();
}

void MainForm::OnChanged() {
    device::HandleChanged(device_->Hid());
    device_->ShowBoardPresence();
}

void MainForm::OnRead(device::DeviceHandle handle) {
    device_->OnRead(handle);
}

void MainForm::prepareGrid() {
    ui_.Grid1Model->ResetEmpty(100);
    // Column 0 holds the motion word, columns 1 to 4 the X, Y, Z and F words; never narrower
    // than their texts in the window's font.
    const QFontMetrics metrics = ui_.Grid1->fontMetrics();
    const int first = std::max(twips(ui_.Grid1, 450), metrics.horizontalAdvance("G00 ") + 8);
    const int other =
        std::max(twips(ui_.Grid1, 1080), metrics.horizontalAdvance("X-0000.000 ") + 8);
    ui_.Grid1->setColumnWidth(0, first);
    for (int column = 1; column < 5; ++column) {
        ui_.Grid1->setColumnWidth(column, other);
    }
    // The row header holds file lines of up to seven digits.
    const int header = metrics.horizontalAdvance("0000000") + 10;
    ui_.Grid1->verticalHeader()->setMinimumWidth(header);
    ui_.Grid1->setMinimumWidth(std::max(twips(ui_.Grid1, 5100), header + first + 4 * other + 24));
}

void MainForm::connectSettingsBehaviour() {
    auto save = [this] { SaveSettings(); };
    for (QLineEdit* edit :
         {ui_.Text13, ui_.Text14, ui_.Text15, ui_.Travspeed, ui_.cutspeed, ui_.jogspeeds}) {
        connect(edit, &QLineEdit::textChanged, this, save);
    }
    connect(ui_.Text16, &QLineEdit::textChanged, this, &MainForm::Text16_Change);
    connect(ui_.setpulses, &QLineEdit::textChanged, this, &MainForm::setpulses_Change);
    // stateChanged, not clicked: a value set from code must behave like the operator's click.
    for (QCheckBox* box :
         {ui_.Check2, ui_.Check3, ui_.Dlimits, ui_.InverseX, ui_.InverseY, ui_.InverseZ}) {
        connect(box, &QCheckBox::stateChanged, this, save);
    }
    connect(ui_.Check1, &QCheckBox::stateChanged, this, &MainForm::Check1_Click);
    if (!memory_.ArcTolerance().isEmpty()) {
        ui_.ArcTolerance->setText(memory_.ArcTolerance());
    }
    connect(ui_.ArcTolerance, &QLineEdit::editingFinished, this, &MainForm::ArcTolerance_Change);
    if (!memory_.Clearance().isEmpty()) {
        ui_.Clearance->setText(memory_.Clearance());
    }
    connect(ui_.Clearance, &QLineEdit::editingFinished, this, &MainForm::Clearance_Change);
    ui_.OptionalStop->setChecked(memory_.OptionalStop());
    connect(ui_.OptionalStop, &QCheckBox::toggled, this, [this](bool on) {
        memory_.SetOptionalStop(on);
        memory_.Save();
    });
}

void MainForm::Clearance_Change() {
    // Like the arc tolerance: a text that is no clearance is refused and the last good one
    // comes back, so an approach never crosses the work lower than the operator meant.
    const QString typed = ui_.Clearance->text();
    if (!ClearanceOf(toFile(typed))) {
        ui_.Clearance->setText(memory_.Clearance().isEmpty() ? QStringLiteral("5.000")
                                                             : memory_.Clearance());
        device_->Messages().Show(
            QStringLiteral("Clearance \"%1\" must be a number of millimetres from 0 to 1000; it "
                           "stays %2.")
                .arg(typed, ui_.Clearance->text()));
        return;
    }
    memory_.SetClearance(typed);
    memory_.Save();
}

void MainForm::ArcTolerance_Change() {
    // The tolerance is the operator's own, kept per user: a text out of range is refused and
    // the last good one comes back, so a run never cuts arcs coarser than was meant.
    if (!gcode::ArcToleranceOf(toFile(ui_.ArcTolerance->text()))) {
        const QString typed = ui_.ArcTolerance->text();
        ui_.ArcTolerance->setText(memory_.ArcTolerance().isEmpty() ? QStringLiteral("0.002")
                                                                   : memory_.ArcTolerance());
        device_->Messages().Show(
            QStringLiteral("Arc tolerance \"%1\" must be a number of millimetres from 0.001 to "
                           "0.1; it stays %2.")
                .arg(typed, ui_.ArcTolerance->text()));
        return;
    }
    memory_.SetArcTolerance(ui_.ArcTolerance->text());
    memory_.Save();
}

void MainForm::Text16_Change() {
    if (ui_.Text16->text().isEmpty()) {
        ui_.Text16->setText(QStringLiteral("1")); // runs this behaviour again, which saves
    }
    SaveSettings();
}

void MainForm::setpulses_Change() {
    // A text that is no number yet (say while the operator retypes it) or 0 leaves the PW
    // delay as it is; the text itself is still saved.
    if (auto pwDelay = PwDelayFromPulsesPerMm(toFile(ui_.setpulses->text()))) {
        ui_.pwm1->setText(QString::fromStdString(*pwDelay));
    }
    SaveSettings();
}

void MainForm::Check1_Click() {
    const bool override = ui_.Check1->isChecked();
    ui_.Travspeed->setEnabled(!override);
    ui_.cutspeed->setEnabled(!override);
    SaveSettings();
}

void MainForm::Command5_Click() {
    if (help_) {
        help_->show();
        help_->raise();
        help_->activateWindow();
        return;
    }
    help_ = new HelpWindow(services_.helpFolders, this);
    help_->show();
}

void MainForm::DisableControls() {
    for (QWidget* control : LockedControls(ui_)) {
        control->setEnabled(false);
    }
    ui_.LiftZ->setEnabled(false);
}

void MainForm::EnableControls() {
    for (QWidget* control : LockedControls(ui_)) {
        control->setEnabled(true);
    }
    ui_.LiftZ->setEnabled(true);
}

QString MainForm::SettingsPath() const {
    return QDir(dataFolder_).filePath(QString::fromLatin1(SettingsFileName));
}

void MainForm::chooseDataFolder() {
    const DataFolderChoice choice =
        ChooseDataFolder(toPath(services_.programDirectory), services_.programDirectoryWritable,
                         toPath(services_.fallbackDirectory));
    dataFolder_ = choice.usesFallback ? services_.fallbackDirectory : services_.programDirectory;
    tempFolder_.clear();
    if (!choice.usesFallback) {
        return;
    }
    QDir().mkpath(dataFolder_);
    // The working copy is as large as the G-code file: it belongs with the user's cached files,
    // not with the settings.
    if (!services_.cacheDirectory.isEmpty() && QDir().mkpath(services_.cacheDirectory)) {
        tempFolder_ = services_.cacheDirectory;
    }
    // Said once: when the settings are first created in the per-user folder.
    if (!QFileInfo::exists(SettingsPath())) {
        device_->Messages().Show(
            QStringLiteral("The program folder %1 cannot be written to. The settings "
                           "(quorvane.cfg) are kept in %2 and the working copy of loaded "
                           "programs (temp.txt) in %3 instead.")
                .arg(QDir::toNativeSeparators(services_.programDirectory),
                     QDir::toNativeSeparators(dataFolder_),
                     QDir::toNativeSeparators(tempFolder_.isEmpty() ? dataFolder_ : tempFolder_)));
    }
}

void MainForm::LoadSettings() {
    chooseDataFolder();
    const SettingsReadResult read = ReadSettingsFile(toPath(SettingsPath()));
    if (read.status == SettingsReadResult::Missing) {
        device_->Messages().Show(QStringLiteral("quorvane.cfg missing, will create a new one."));
        LastFolder = services_.programDirectory;
        applyingSettings_ = true;
        applyDefaultSettings();
        applyingSettings_ = false;
        SaveSettings();
        return;
    }
    if (read.status == SettingsReadResult::Unreadable) {
        // Saving now would replace settings we could not even read: keep the file as it is.
        savingBlocked_ = true;
        device_->Messages().Show(
            QStringLiteral("quorvane.cfg could not be read (%1). The built-in settings are used "
                           "for now, and changes will not be saved, so that the file is kept "
                           "as it is.")
                .arg(QString::fromStdString(read.error)));
        LastFolder = services_.programDirectory;
        applyDefaultSettings();
        return;
    }
    // A short file keeps the built-in value of every missing line and is then completed.
    SettingsLines lines = DefaultSettingsLines(toFile(services_.programDirectory));
    for (std::size_t i = 0; i < read.lines.size() && i < lines.size(); ++i) {
        lines[i] = read.lines[i];
    }
    // A save made while the lines go in would write a passing value (the PW delay computed from
    // the pulses per mm before the stored one replaces it), so the file is written once, after
    // all of them, and only when it does not already hold what the window shows.
    applyingSettings_ = true;
    applySettingsLines(lines);
    applyingSettings_ = false;
    if (!SettingsFileHolds(toPath(SettingsPath()), currentSettingsLines())) {
        SaveSettings();
    }
    if (!read.warning.empty()) {
        device_->Messages().Show(QString::fromStdString(read.warning) +
                                 QStringLiteral(" It is saved again as the window shows it."));
    }
}

void MainForm::applyDefaultSettings() {
    const QString folder = LastFolder;
    applySettingsLines(DefaultSettingsLines(toFile(services_.programDirectory)));
    LastFolder = folder; // the caller's to choose
}

// Every value goes through its field, so each field's change behaviour runs as for an edit:
// setpulses first recomputes pwm1, and the stored pwm1 (the next line) then replaces it.
void MainForm::applySettingsLines(const SettingsLines& lines) {
    LastFolder = fromFile(lines[LastFolderLine]);
    ui_.InverseX->setChecked(IsCheckedLine(lines[InverseXLine]));
    ui_.InverseY->setChecked(IsCheckedLine(lines[InverseYLine]));
    ui_.InverseZ->setChecked(IsCheckedLine(lines[InverseZLine]));
    ui_.Check2->setChecked(IsCheckedLine(lines[SimulateLine]));
    ui_.Check3->setChecked(IsCheckedLine(lines[ScaleToFitLine]));
    ui_.Check1->setChecked(IsCheckedLine(lines[OverrideLine]));
    ui_.Text13->setText(fromFile(lines[GotoXLine]));
    ui_.Text14->setText(fromFile(lines[GotoYLine]));
    ui_.Text15->setText(fromFile(lines[GotoZLine]));
    ui_.Travspeed->setText(fromFile(lines[TravelSpeedLine]));
    ui_.cutspeed->setText(fromFile(lines[CutSpeedLine]));
    ui_.jogspeeds->setText(fromFile(lines[JogSpeedLine]));
    ui_.Text16->setText(fromFile(lines[SimulatorDelayLine]));
    ui_.setpulses->setText(fromFile(lines[PulsesPerMmLine]));
    ui_.pwm1->setText(fromFile(lines[PwDelayLine]));
    ui_.Dlimits->setChecked(IsCheckedLine(lines[DisableLimitsLine]));
}

SettingsLines MainForm::currentSettingsLines() const {
    SettingsLines lines;
    lines[LastFolderLine] = toFile(LastFolder);
    lines[InverseXLine] = CheckBoxLine(ui_.InverseX->isChecked());
    lines[InverseYLine] = CheckBoxLine(ui_.InverseY->isChecked());
    lines[InverseZLine] = CheckBoxLine(ui_.InverseZ->isChecked());
    lines[SimulateLine] = CheckBoxLine(ui_.Check2->isChecked());
    lines[ScaleToFitLine] = CheckBoxLine(ui_.Check3->isChecked());
    lines[OverrideLine] = CheckBoxLine(ui_.Check1->isChecked());
    lines[GotoXLine] = toFile(ui_.Text13->text());
    lines[GotoYLine] = toFile(ui_.Text14->text());
    lines[GotoZLine] = toFile(ui_.Text15->text());
    lines[TravelSpeedLine] = toFile(ui_.Travspeed->text());
    lines[CutSpeedLine] = toFile(ui_.cutspeed->text());
    lines[JogSpeedLine] = toFile(ui_.jogspeeds->text());
    lines[SimulatorDelayLine] = toFile(ui_.Text16->text());
    lines[PulsesPerMmLine] = toFile(ui_.setpulses->text());
    lines[PwDelayLine] = toFile(ui_.pwm1->text());
    lines[DisableLimitsLine] = CheckBoxLine(ui_.Dlimits->isChecked());
    return lines;
}

void MainForm::SaveSettings() {
    if (savingBlocked_ || applyingSettings_ || dataFolder_.isEmpty()) {
        return; // before start-up has found the file there is nothing to save to
    }
    std::string error;
    ++settingsWrites_;
    if (WriteSettingsFile(toPath(SettingsPath()), currentSettingsLines(), &error)) {
        saveFailing_ = false;
        return;
    }
    // Said once per run of failures, not at every keystroke; the flag is set before the
    // message so that saves made while it is open stay quiet.
    if (!saveFailing_) {
        saveFailing_ = true;
        device_->Messages().Show(
            QStringLiteral("The settings could not be saved (%1). Changes made now are lost "
                           "when the program closes.")
                .arg(QString::fromStdString(error)));
    }
}

void MainForm::closeEvent(QCloseEvent* event) {
    // The settings file is always current; only the window's place is kept now. A run or GOTO
    // waiting for the board returns and sends nothing more.
    ui_.Timer1->setEnabled(false);
    device_->Close();
    memory_.SetGeometry(saveGeometry());
    memory_.SetOpenFilter(openFilter_);
    memory_.SetArcTolerance(ui_.ArcTolerance->text());
    memory_.Save();
    if (help_) {
        help_->close();
    }
    event->accept();
}

} // namespace app

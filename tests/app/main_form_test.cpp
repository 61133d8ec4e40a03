#include "app/help_window.h"
#include "app/main_form.h"
#include "device/no_board.h"
#include "device/tick_timer.h"
#include "support/full_disk.h"
#include "support/recording_messages.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

namespace {

class CountingHid : public device::NoBoard {
public:
    bool Connect(device::NotifySink) override { return ++connects, true; }
    bool Disconnect() override { return ++disconnects, true; }
    int connects = 0;
    int disconnects = 0;
};

const char* const kMissing = "quorvane.cfg missing, will create a new one.";

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    app::MainForm& start() {
        app::MainForm::Services services;
        services.hid = &hid;
        services.messages = &messages;
        services.programDirectory = dir.path();
        services.programDirectoryWritable = writable;
        services.fallbackDirectory = dir.filePath("fallback");
        services.cacheDirectory = dir.filePath("cache");
        services.homeDirectory = dir.filePath("home");
        services.windowMemoryPath = dir.filePath("fallback/window.ini");
        services.helpFolders = {dir.filePath("cwd"), dir.path()};
        form = std::make_unique<app::MainForm>(services);
        form->Startup();
        return *form;
    }

    QString cfgPath() const { return dir.filePath("quorvane.cfg"); }
    void writeCfg(const QStringList& lines) {
        QFile file(cfgPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (const QString& line : lines) {
            file.write(line.toLocal8Bit() + "\r\n");
        }
    }
    QStringList cfgLines(const QString& path) const {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        QString text = QString::fromLocal8Bit(file.readAll());
        EXPECT_TRUE(text.endsWith("\r\n"));
        text.chop(2);
        return text.split("\r\n");
    }
    QStringList cfgLines() const { return cfgLines(cfgPath()); }
    std::string cfgBytes() const {
        QFile file(cfgPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }
    QStringList storedLines() const {
        return {dir.path(), "0",    "0",   "0",   "0",  "0",      "0",     "0000.000", "0000.000",
                "0000.000", "1000", "500", "800", "20", "533.33", "57150", "0"};
    }

    const app::MainControls& ui() const { return form->controls(); }

    QTemporaryDir dir;
    CountingHid hid;
    RecordingMessages messages;
    bool writable = true;
    std::unique_ptr<app::MainForm> form;
};

TEST_F(MainFormTest, StartsWithCaptionAndEveryNamedControl) {
    start();
    EXPECT_EQ(form->windowTitle(), "Quorvane Gcode USB Test BetaV1.7 2006");
    QStringList names = {"Frame1",
                         "Frame2",
                         "Frame3",
                         "Frame4",
                         "Frame5",
                         "Frame6",
                         "Feed",
                         "Picture1",
                         "Grid1",
                         "XpositionDisplay",
                         "YpositionDisplay",
                         "ZpositionDisplay",
                         "XResetZeroButton",
                         "YResetZeroButton",
                         "ZResetZeroButton",
                         "Text13",
                         "Text14",
                         "Text15",
                         "Command4",
                         "LoadGcode",
                         "Run2",
                         "Command3",
                         "Check3",
                         "Check2",
                         "InverseX",
                         "InverseY",
                         "InverseZ",
                         "jogspeeds",
                         "Travspeed",
                         "cutspeed",
                         "Check1",
                         "Dlimits",
                         "Text16",
                         "pwm1",
                         "PWD",
                         "setpulses",
                         "xmaxloaded",
                         "ymaxloaded",
                         "linesload",
                         "LineProcessed",
                         "Packet",
                         "Command5",
                         "Command1",
                         "Command2",
                         "Timer1"};
    for (int i = 1; i <= 12; ++i) {
        names << QStringLiteral("Text%1").arg(i);
    }
    for (int i = 1; i <= 10; ++i) {
        names << QStringLiteral("JogButton%1").arg(i);
    }
    for (const QString& name : names) {
        EXPECT_EQ(form->findChildren<QObject*>(name).size(), 1) << name.toStdString();
    }
    EXPECT_TRUE(qobject_cast<device::TickTimer*>(form->findChild<QObject*>("Timer1")));
    EXPECT_EQ(ui().linesload->text(), "Lines Loaded: 0");
    EXPECT_EQ(ui().Command3->text(), "STOP");
}

TEST_F(MainFormTest, StartUpPreparesDisplaysTableAndDeviceLink) {
    start();
    EXPECT_FALSE(ui().Run2->isEnabled());
    EXPECT_TRUE(ui().LoadGcode->isEnabled());
    for (QLabel* display : {ui().XpositionDisplay, ui().YpositionDisplay, ui().ZpositionDisplay}) {
        EXPECT_EQ(display->text(), "0000.000");
    }
    EXPECT_EQ(ui().Grid1->model()->rowCount(), 100);
    EXPECT_EQ(ui().Grid1->model()->columnCount(), 5);
    EXPECT_EQ(form->Motion().pen.PlotScale, 19.2);
    EXPECT_EQ(form->Motion().pen.PlotX, 50);
    EXPECT_EQ(form->Motion().pen.PlotY, 3500);
    EXPECT_EQ(hid.connects, 1);
    form->close();
    EXPECT_EQ(hid.disconnects, 1);
}

TEST_F(MainFormTest, MissingFileIsReportedOnceAndCreatedWithDefaults) {
    start();
    EXPECT_EQ(messages.shown, QStringList{kMissing});
    EXPECT_EQ(cfgLines(), storedLines());
    EXPECT_EQ(ui().jogspeeds->text(), "800");
    EXPECT_EQ(ui().pwm1->text(), "57150"); // not the 57150.32... computed from 533.33
}

TEST_F(MainFormTest, StoredValuesAreAppliedThroughTheFields) {
    QStringList lines = storedLines();
    lines[1] = "1 ";      // InverseX: only exactly "1" checks
    lines[2] = "1";       // InverseY
    lines[6] = "1";       // Override Gcode
    lines[10] = "1500";   // Travspeed
    lines[11] = "0250.5"; // cutspeed
    lines[13] = "";       // Text16 empty
    lines[14] = "533.333";
    lines[15] = "60000"; // stored PW delay differs from the computed 57150
    writeCfg(lines);
    start();
    EXPECT_TRUE(messages.shown.isEmpty());
    EXPECT_FALSE(ui().InverseX->isChecked());
    EXPECT_TRUE(ui().InverseY->isChecked());
    EXPECT_TRUE(ui().Check1->isChecked());
    EXPECT_FALSE(ui().Travspeed->isEnabled());
    EXPECT_FALSE(ui().cutspeed->isEnabled());
    EXPECT_EQ(ui().Travspeed->text(), "1500");
    EXPECT_EQ(ui().cutspeed->text(), "0250.5");
    EXPECT_EQ(ui().Text16->text(), "1");
    EXPECT_EQ(ui().pwm1->text(), "60000");
    // The file ends up as the window shows it: the stored PW delay survives the next start.
    const QStringList saved = cfgLines();
    ASSERT_EQ(saved.size(), 17);
    EXPECT_EQ(saved[1], "0");
    EXPECT_EQ(saved[13], "1");
    EXPECT_EQ(saved[15], "60000");
}

// The pulses per mm recompute the PW delay while the file is applied; that passing value must
// never reach the disk, or the stored PW delay is lost at the next start.
TEST_F(MainFormTest, StoredPwDelaySurvivesRestartsByteForByte) {
    QStringList tuned = storedLines();
    tuned[15] = "50000";
    writeCfg(tuned);
    const std::string written = cfgBytes();
    for (int restart = 1; restart <= 3; ++restart) {
        start();
        EXPECT_EQ(ui().pwm1->text(), "50000") << restart;
        EXPECT_EQ(cfgBytes(), written) << restart;
    }

    QFile::remove(cfgPath()); // created with the defaults, then started twice more
    start();
    const std::string created = cfgBytes();
    for (int restart = 1; restart <= 2; ++restart) {
        start();
        EXPECT_EQ(cfgBytes(), created) << restart;
    }
    EXPECT_EQ(cfgLines()[15], "57150");
}

TEST_F(MainFormTest, ShortFileKeepsBuiltInValuesForMissingLinesAndIsCompleted) {
    writeCfg({"/somewhere", "0", "0", "1"});
    start();
    EXPECT_TRUE(messages.shown.isEmpty());
    EXPECT_TRUE(ui().InverseZ->isChecked());
    EXPECT_EQ(ui().jogspeeds->text(), "800");
    QStringList expected = storedLines();
    expected[0] = "/somewhere";
    expected[3] = "1";
    EXPECT_EQ(cfgLines(), expected);
    EXPECT_EQ(form->LastFolder, "/somewhere");
}

TEST_F(MainFormTest, OverlongFileIsReadInPartAndTheOperatorIsTold) {
    QStringList lines = storedLines();
    lines[12] = "700";
    for (int i = 18; i <= 40; ++i) {
        lines << "extra";
    }
    writeCfg(lines);
    start();
    EXPECT_EQ(messages.shown,
              QStringList{"quorvane.cfg has 40 lines; only the first 17 hold settings, so lines "
                          "18 to 40 were not read. It is saved again as the window shows it."});
    EXPECT_EQ(ui().jogspeeds->text(), "700");
    EXPECT_EQ(cfgLines(), lines.mid(0, 17));
}

TEST_F(MainFormTest, LineBreakInASettingIsNotSavedAndTheOldFileKept) {
    start();
    messages.shown.clear();
    form->LastFolder = "/parts\nnew";
    ui().jogspeeds->setText("900");
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith("The settings could not be saved (line 1 holds a "
                                             "line break, which would shift every later line)"))
        << messages.shown[0].toStdString();
    EXPECT_EQ(cfgLines(), storedLines());
}

TEST_F(MainFormTest, TypingRewritesTheFileAtEveryKeystroke) {
    start();
    ui().jogspeeds->clear();
    const int before = form->SettingsWrites();
    QTest::keyClicks(ui().jogspeeds, "1200");
    EXPECT_EQ(form->SettingsWrites() - before, 4);
    EXPECT_EQ(cfgLines()[12], "1200");
}

TEST_F(MainFormTest, PulsesPerMmRecomputesThePwDelay) {
    start();
    const struct {
        const char* pulses;
        const char* pwDelay;
    } cases[] = {{"533.333", "57150"},
                 {"533.33", "57150.3214707592"},
                 {"1000", "30479.98095"},
                 {"266.6665", "114300"}};
    for (const auto& c : cases) {
        ui().setpulses->setText(c.pulses);
        EXPECT_EQ(ui().pwm1->text(), c.pwDelay) << c.pulses;
        EXPECT_EQ(cfgLines()[15], c.pwDelay);
    }
    // No number (the operator retyping) or 0: the PW delay stays, the text is still saved.
    for (const char* text : {"", "53x", "0"}) {
        const int before = form->SettingsWrites();
        ui().setpulses->setText(text);
        EXPECT_EQ(ui().pwm1->text(), "114300") << text;
        EXPECT_EQ(form->SettingsWrites(), before + 1);
        EXPECT_EQ(cfgLines()[14], text);
    }
}

TEST_F(MainFormTest, ValuesSetFromCodeRunTheChangeBehaviour) {
    start();
    ui().Check1->setChecked(true);
    EXPECT_FALSE(ui().Travspeed->isEnabled());
    EXPECT_FALSE(ui().cutspeed->isEnabled());
    EXPECT_EQ(cfgLines()[6], "1");
    ui().Check1->setChecked(false);
    EXPECT_TRUE(ui().Travspeed->isEnabled());
    EXPECT_EQ(cfgLines()[6], "0");

    ui().Check2->setChecked(true);
    ui().Dlimits->setChecked(true);
    ui().Text14->setText("12.5");
    const QStringList saved = cfgLines();
    EXPECT_EQ(saved[4], "1");
    EXPECT_EQ(saved[16], "1");
    EXPECT_EQ(saved[8], "12.5");

    ui().Text16->setText("");
    EXPECT_EQ(ui().Text16->text(), "1");
    EXPECT_EQ(cfgLines()[13], "1");
}

TEST_F(MainFormTest, LockingSwitchesExactlyTheOperationControls) {
    start();
    ui().Check1->setChecked(true); // keeps Travspeed and cutspeed disabled through it all
    form->DisableControls();
    const QStringList locked = {
        "JogButton1",       "JogButton2",  "JogButton3",       "JogButton4",
        "JogButton5",       "JogButton6",  "JogButton7",       "JogButton8",
        "JogButton9",       "JogButton10", "XResetZeroButton", "YResetZeroButton",
        "ZResetZeroButton", "Command4",    "LoadGcode",        "Run2",
        "Check2",           "Check3",      "Text13",           "Text14",
        "Text15",           "InverseX",    "InverseY",         "InverseZ",
        "setpulses"};
    const auto order = app::LockedControls(ui());
    ASSERT_EQ(order.size(), static_cast<std::size_t>(locked.size()));
    for (int i = 0; i < locked.size(); ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)]->objectName(), locked[i]);
        EXPECT_FALSE(order[static_cast<std::size_t>(i)]->isEnabled()) << i;
    }
    for (const char* name :
         {"Command3", "Command5", "Check1", "Dlimits", "jogspeeds", "Text16", "pwm1"}) {
        EXPECT_TRUE(form->findChild<QWidget*>(name)->isEnabled()) << name;
    }
    form->EnableControls();
    for (QWidget* control : order) {
        EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();
    }
    EXPECT_TRUE(ui().Run2->isEnabled()); // enabled with the rest, program or not
    EXPECT_FALSE(ui().Travspeed->isEnabled());
    EXPECT_FALSE(ui().cutspeed->isEnabled());
}

TEST_F(MainFormTest, HelpOpensOneWindowAndMakesANewOneAfterClose) {
    QFile rtf(dir.filePath("help.rtf"));
    ASSERT_TRUE(rtf.open(QIODevice::WriteOnly));
    rtf.write("{\\rtf1 {\\b Jog Controls} hold a button\\par}");
    rtf.close();
    start();
    ui().Command5->click();
    ui().Command5->click();
    auto windows = form->findChildren<app::HelpWindow*>();
    ASSERT_EQ(windows.size(), 1);
    app::HelpWindow* help = windows.front();
    EXPECT_EQ(help->windowTitle(), "HELP");
    EXPECT_EQ(help->RichTextBox1->objectName(), "RichTextBox1");
    EXPECT_EQ(help->RichTextBox1->toPlainText(), "Jog Controls hold a button");
    EXPECT_EQ(help->Command1->text(), "Close");
    help->Command1->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form->findChildren<app::HelpWindow*>().isEmpty());
    ui().Command5->click();
    EXPECT_EQ(form->findChildren<app::HelpWindow*>().size(), 1);
}

TEST_F(MainFormTest, MissingHelpTextSaysWhereItLooked) {
    start();
    ui().Command5->click();
    auto* help = form->findChild<app::HelpWindow*>();
    ASSERT_TRUE(help);
    const QString text = help->RichTextBox1->toPlainText();
    EXPECT_TRUE(text.contains(QDir::toNativeSeparators(dir.filePath("cwd/help.rtf"))));
    EXPECT_TRUE(text.contains(QDir::toNativeSeparators(dir.filePath("help.rtf"))));
    EXPECT_TRUE(help->ShownFile().isEmpty());
}

TEST_F(MainFormTest, UnreadableFileIsReportedAndNeverOverwritten) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("quorvane.cfg"));
    start();
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith("quorvane.cfg could not be read"));
    ui().jogspeeds->setText("900");
    EXPECT_TRUE(QFileInfo(cfgPath()).isDir());
    EXPECT_EQ(messages.shown.size(), 1);
}

TEST_F(MainFormTest, FailingSavesAreReportedOnceUntilTheyWorkAgain) {
    start();
    messages.shown.clear();
    std::optional<FullDisk> full(std::in_place);
    // A keystroke while the message is open saves again; that must stay quiet too.
    messages.whileOpen = [&](const QString&) { ui().cutspeed->setText("7"); };
    QTest::keyClicks(ui().jogspeeds, "123");
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith("The settings could not be saved"));
    EXPECT_EQ(cfgLines()[12], "800"); // the old file is intact
    full.reset();
    ui().jogspeeds->setText("950");
    EXPECT_EQ(cfgLines()[12], "950");
    full.emplace();
    ui().jogspeeds->setText("960");
    EXPECT_EQ(messages.shown.size(), 2);
}

TEST_F(MainFormTest, ReadOnlyProgramFolderKeepsSettingsInThePerUserFolder) {
    writable = false;
    start();
    ASSERT_EQ(messages.shown.size(), 2);
    EXPECT_TRUE(messages.shown[0].contains(QDir::toNativeSeparators(dir.filePath("fallback"))));
    EXPECT_EQ(messages.shown[1], kMissing);
    EXPECT_FALSE(QFile::exists(cfgPath()));
    EXPECT_EQ(cfgLines(dir.filePath("fallback/quorvane.cfg")).size(), 17);
    EXPECT_EQ(form->DataFolder(), dir.filePath("fallback"));

    // The next start finds its settings there and says nothing.
    messages.shown.clear();
    start();
    EXPECT_TRUE(messages.shown.isEmpty());
}

// An installed program: its folder is read-only and holds no G-code.
TEST_F(MainFormTest, ReadOnlyInstallKeepsItsWorkingCopyInTheCacheAndOpensTheDialogAtHome) {
    writable = false;
    start();
    EXPECT_TRUE(messages.shown[0].contains(QDir::toNativeSeparators(dir.filePath("cache"))));
    EXPECT_EQ(form->TempFilePath(), dir.filePath("cache/temp.txt"));

    QDir().mkpath(dir.filePath("parts"));
    QFile part(dir.filePath("parts/part.tap"));
    ASSERT_TRUE(part.open(QIODevice::WriteOnly));
    part.write("G01 X10 Y5\n");
    part.close();
    QStringList folders;
    QStringList filtersIn;
    auto chooser = [&](const QString&, const QString& folder, QString& selectedFilter) {
        folders << folder;
        filtersIn << selectedFilter;
        selectedFilter = QStringLiteral("Gcode (*.tap)");
        return part.fileName();
    };
    form->SetFileChooser(chooser);
    form->LoadGcode_Click();
    EXPECT_EQ(form->Program().LineCount, 1);
    EXPECT_TRUE(QFile::exists(dir.filePath("cache/temp.txt")));
    EXPECT_FALSE(QFile::exists(dir.filePath("temp.txt")));
    EXPECT_FALSE(QFile::exists(dir.filePath("fallback/temp.txt")));
    form->LoadGcode_Click(); // LastFolder is now the part's folder
    ASSERT_EQ(folders.size(), 2);
    EXPECT_EQ(folders[0], dir.filePath("home")) << "LastFolder was the program folder";
    EXPECT_EQ(QFileInfo(folders[1]).canonicalFilePath(),
              QFileInfo(dir.filePath("parts")).canonicalFilePath());

    // The next start offers the filter used last, and a folder since removed gives home.
    form->close();
    start();
    form->SetFileChooser(chooser);
    QDir(dir.filePath("parts")).removeRecursively();
    form->LoadGcode_Click();
    ASSERT_EQ(filtersIn.size(), 3);
    EXPECT_EQ(filtersIn[2], "Gcode (*.tap)");
    EXPECT_EQ(folders[2], dir.filePath("home"));
}

TEST(OpenDialogFolder, AWritableProgramFolderIsStillOfferedAsTheOriginalDid) {
    QTemporaryDir dir;
    EXPECT_EQ(app::OpenDialogFolder(dir.path(), dir.path(), true, "/home/m"), dir.path());
    EXPECT_EQ(app::OpenDialogFolder(dir.path(), dir.path(), false, "/home/m"), "/home/m");
    EXPECT_EQ(app::OpenDialogFolder("", dir.path(), true, "/home/m"), "/home/m");
    EXPECT_EQ(app::OpenDialogFolder(dir.filePath("gone"), dir.path(), true, "/home/m"), "/home/m");
}

} // namespace

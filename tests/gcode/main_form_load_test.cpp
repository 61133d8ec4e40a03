// The Load button and the preview pass in the main window, in virtual time.
#include "app/main_form.h"
#include "app/wait_window.h"
#include "device/virtual_board.h"
#include "gcode/program_table_model.h"
#include "gcode/toolpath_view.h"
#include "support/virtual_main_form.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

const bool unixDispatcher = UseUnixEventDispatcher();

class MainFormLoadTest : public ::testing::Test, protected VirtualMainForm {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Start();
        form->resize(1200, 800);
        form->show();
        QCoreApplication::processEvents();
        form->SetFileChooser([this](const QString& filter, const QString& folder, QString&) {
            ++dialogs;
            dialogFilter = filter;
            dialogFolder = folder;
            if (whileDialogOpen) {
                whileDialogOpen();
            }
            return chosen;
        });
    }

    QString WriteFile(const QString& name, const QByteArray& bytes) {
        QDir().mkpath(dir.filePath("parts"));
        const QString path = dir.filePath("parts/" + name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    void Load(const QString& path) {
        chosen = path;
        form->LoadGcode_Click();
    }

    const app::MainControls& c() const { return form->controls(); }
    QString Cell(int row, int column) const {
        return c().Grid1Model->data(c().Grid1Model->index(row, column), Qt::DisplayRole).toString();
    }
    int GreenPixels() const {
        const QImage& image = c().Picture1->Image();
        int green = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                green += image.pixelColor(x, y) == QColor(0, 255, 0) ? 1 : 0;
            }
        }
        return green;
    }

    QString chosen;
    int dialogs = 0;
    QString dialogFilter;
    QString dialogFolder;
    std::function<void()> whileDialogOpen;
};

TEST_F(MainFormLoadTest, LoadFillsTheTableLabelsAndWorkingCopyAndPreviews) {
    c().Check2->setChecked(true);
    form->Motion().machine[motion::Axis::X] = {"0012.000", 12.0, false, {}};
    form->ShowPositions();
    const QString path =
        WriteFile("square.nc", "%\r\n(square)\r\nN10 G00 X0 Y0\r\n"
                               "N20 G01 X10 F200\r\nY10\r\nG01 X0\r\nY0\r\nM30\r\n");
    const QString folderBefore = form->LastFolder;
    Load(path);

    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(dialogFilter, "G-code files (*.gc *.agc *.nc *.ngc *.gcode *.tap);;Gcode (*.gc);;"
                            "Gcode (*.agc);;Gcode (*.nc);;All files (*)");
    EXPECT_EQ(dialogFolder, folderBefore);
    EXPECT_EQ(form->LastFolder, dir.filePath("parts"));
    EXPECT_FALSE(c().Check2->isChecked());
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("|").toStdString();

    ASSERT_EQ(c().Grid1Model->rowCount(), 5);
    EXPECT_EQ(form->Program().LineCount, 5);
    EXPECT_EQ(form->Program().TempLineCount, 5);
    EXPECT_EQ(Cell(0, 0), "G00 ");
    EXPECT_EQ(Cell(0, 4), "F1000.000");
    EXPECT_EQ(Cell(2, 2), "Y0010.000 ");
    EXPECT_EQ(Cell(2, 4), "F0200.000 ");
    EXPECT_EQ(c().linesload->text(), "Line Count = 5");
    EXPECT_EQ(c().xmaxloaded->text(), "0010.000");
    EXPECT_EQ(c().ymaxloaded->text(), "0010.000");

    QFile temp(form->TempFilePath());
    ASSERT_TRUE(temp.open(QIODevice::ReadOnly));
    EXPECT_EQ(temp.readAll(), "G00 X0 Y0\r\nG01 X10 F200\r\nY10\r\nG01 X0\r\nY0\r\n");

    // The preview drew the square, sent nothing and put the machine back where it stood.
    EXPECT_GT(GreenPixels(), 20);
    EXPECT_EQ(board.ReportsReceived(), 0u);
    EXPECT_EQ(c().XpositionDisplay->text(), "0000.000");
    EXPECT_EQ(form->Motion().machine[motion::Axis::X].positionMm, 0);
    EXPECT_EQ(form->Program().PreviewDone, 1);
    EXPECT_TRUE(c().Run2->isEnabled());
    EXPECT_TRUE(c().LoadGcode->isEnabled());
    EXPECT_FALSE(form->Wait()->isVisible());
    EXPECT_EQ(c().StatusField()->text(), "OA");
    // The last row, Y back 10 mm at F200: flag byte 0, Y 5333 steps, period 285.
    EXPECT_EQ(c().Packet->text(), "000002021300129");
    EXPECT_NEAR(form->Motion().pen.PlotX, 60, 1e-9);
    EXPECT_NEAR(form->Motion().pen.PlotY, 4555, 1e-9);
}

TEST_F(MainFormLoadTest, FolderWithALineBreakIsNotRemembered) {
    Load(WriteFile("a.nc", "G01 X1\n"));
    for (const char* name : {"line\nbreak", "carriage\rreturn"}) {
        QDir().mkpath(dir.filePath(name));
        const QString path = dir.filePath(QString(name) + "/b.nc");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("G01 X2\n");
        file.close();
        Load(path);
        EXPECT_EQ(c().Grid1Model->rowCount(), 1); // the file itself loads
        EXPECT_EQ(form->LastFolder, dir.filePath("parts"));
    }
    const app::SettingsReadResult saved = app::ReadSettingsFile(form->SettingsPath().toStdString());
    ASSERT_EQ(saved.lines.size(), 17u);
    EXPECT_EQ(saved.lines[app::PulsesPerMmLine], "533.33");
}

TEST_F(MainFormLoadTest, CancelLeavesAnEmptyTableAndZeroExtents) {
    Load(WriteFile("a.nc", "G01 X7 Y3\n"));
    c().linesload->setText("Line Count = 1");
    c().ZpositionDisplay->setText("0002.000");
    c().Check2->setChecked(true);
    const int green = GreenPixels();

    Load(QString());
    EXPECT_EQ(c().Grid1Model->rowCount(), 100);
    EXPECT_EQ(Cell(0, 0), "");
    EXPECT_EQ(form->Program().LineCount, 0);
    EXPECT_EQ(form->Program().program, nullptr);
    EXPECT_FALSE(c().Check2->isChecked());
    EXPECT_EQ(c().xmaxloaded->text(), "0");
    EXPECT_EQ(c().ymaxloaded->text(), "0");
    EXPECT_EQ(c().linesload->text(), "Line Count = 1");
    EXPECT_EQ(c().ZpositionDisplay->text(), "0002.000");
    EXPECT_EQ(GreenPixels(), green);
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(MainFormLoadTest, FileThatCannotBeOpenedIsReportedAndLoadsNothing) {
    c().XpositionDisplay->setText("0003.000");
    Load(dir.filePath("parts/missing.nc"));
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith("The G-code file "))
        << messages.shown[0].toStdString();
    EXPECT_EQ(c().Grid1Model->rowCount(), 100);
    EXPECT_EQ(form->Program().LineCount, 0);
    EXPECT_EQ(c().XpositionDisplay->text(), "0003.000");
    EXPECT_TRUE(form->Wait() == nullptr || !form->Wait()->isVisible());
    EXPECT_FALSE(form->ProgramBusy());
}

TEST_F(MainFormLoadTest, FoldersDevicesAndOverlongLinesAreRefusedWithTheirReason) {
    QByteArray overlong = "G00 X1\r\nG01 X2 ";
    overlong += QByteArray(1 << 21, ' ');
    overlong += "\r\nX3\r\n";
    struct Case {
        QString path;
        const char* why;
    };
    for (const Case& refused : {Case{dir.path(), "it is a folder, not a G-code file"},
                                Case{"/dev/zero", "it is a device, not a G-code file"},
                                Case{WriteFile("long.nc", overlong),
                                     "is refused. Line 2 of the file is longer than 1 MiB"}}) {
        messages.shown.clear();
        c().XpositionDisplay->setText("0003.000");
        Load(refused.path);
        ASSERT_EQ(messages.shown.size(), 1) << refused.why;
        EXPECT_TRUE(messages.shown[0].contains(refused.why)) << messages.shown[0].toStdString();
        EXPECT_EQ(c().Grid1Model->rowCount(), 100);
        EXPECT_EQ(form->Program().LineCount, 0);
        EXPECT_EQ(c().xmaxloaded->text(), "0");
        EXPECT_EQ(c().XpositionDisplay->text(), "0003.000");
        EXPECT_FALSE(form->ProgramBusy());
    }
}

TEST_F(MainFormLoadTest, WorkingCopyThatCannotBeWrittenIsReportedAndLoadsNothing) {
    ASSERT_TRUE(QDir().mkpath(form->TempFilePath())); // a folder where temp.txt should go
    c().XpositionDisplay->setText("0003.000");
    Load(WriteFile("a.nc", "G01 X7 Y3\n"));
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].contains("temp.txt")) << messages.shown[0].toStdString();
    EXPECT_EQ(c().Grid1Model->rowCount(), 100);
    EXPECT_EQ(c().xmaxloaded->text(), "0");
    EXPECT_EQ(c().XpositionDisplay->text(), "0003.000");
    EXPECT_FALSE(form->Wait()->isVisible());
}

TEST_F(MainFormLoadTest, LoadAndRunClicksDuringALoadAreIgnored) {
    const QString path = WriteFile("a.nc", "G01 X7 Y3\n");
    whileDialogOpen = [this] {
        form->LoadGcode_Click();
        form->Run2_Click();
    };
    // A click queued now arrives during the load's pause.
    QMetaObject::invokeMethod(
        form.get(), [this] { form->LoadGcode_Click(); }, Qt::QueuedConnection);
    Load(path);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(form->Program().LineCount, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs, 1);
}

TEST_F(MainFormLoadTest, LargeFileMovesTheProgressBarThroughout) {
    // Big enough for the reading alone to move the bar: the preview is planned as it is read.
    QByteArray bytes;
    for (int i = 0; i < 300000; ++i) {
        bytes +=
            "X" + QByteArray::number(i % 150) + ".125 Y" + QByteArray::number(i % 90) + ".5\r\n";
    }
    ASSERT_GT(bytes.size(), 4 << 20);
    const QString path = WriteFile("big.nc", "G01 Z-1 F300\r\n" + bytes);
    QList<int> seen;
    // The wait window is made at the first load; watch its bar from the first one on.
    Load(WriteFile("small.nc", "G01 X1\n"));
    auto* bar = form->Wait()->findChild<QProgressBar*>("LoadProgress");
    ASSERT_NE(bar, nullptr);
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) { seen << v; });
    Load(path);
    EXPECT_EQ(form->Program().LineCount, 300001);
    ASSERT_GE(seen.size(), 6);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GE(std::count_if(seen.begin(), seen.end(), [](int v) { return v > 0 && v < 1000; }), 5);
    EXPECT_EQ(seen.back(), 1000);
}

TEST_F(MainFormLoadTest, RefusedRowEndsThePreviewWithItsMessage) {
    Load(WriteFile("a.nc", "G01 X5 F100\nG01 Y5 F0.5\nG01 X9\n"));
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].contains("0000.500")) << messages.shown[0].toStdString();
    EXPECT_EQ(c().XpositionDisplay->text(), "0000.000");
    EXPECT_EQ(c().YpositionDisplay->text(), "0000.000");
    EXPECT_TRUE(c().Run2->isEnabled());
    EXPECT_EQ(form->Program().LineCount, 3);
}

TEST_F(MainFormLoadTest, TheCheckAfterALoadTellsWhatThePreviewFound) {
    Load(WriteFile("a.nc", "G01 X1 F100\nG01 X40000 F30000\nG01 Z-200 F1000\nG01 X0\n"));
    EXPECT_EQ(c().CheckText->text().toStdString(),
              "7 reports, about 40 min 48.2 s of machine time; 3 lines go out as several "
              "reports (first: line 2).\nRead by the original line filter: it reads every move "
              "of this file as G-code means it.");
    EXPECT_TRUE(messages.shown.isEmpty());

    c().setpulses->setText("533.33 per mm"); // still a leading number
    Load(WriteFile("b.nc", "G01 X1 F100\nG01 Y5 F0.5\n"));
    EXPECT_TRUE(c().CheckText->text().contains(
        "; the run stops at line 2: Speed must be at least 1 mm/min: \"0000.500"))
        << c().CheckText->text().toStdString();

    c().setpulses->setText("abc");
    Load(WriteFile("c.nc", "G01 X1 F100\n"));
    EXPECT_TRUE(c().CheckText->text().contains("Pulses per MM \"abc\" reads as 0"));

    Load(QString());
    EXPECT_EQ(c().CheckText->text(), "");
}

TEST_F(MainFormLoadTest, APreviewIsPlannedWithTheSettingsAsTheyAreWhenItStarts) {
    // The preview is planned while the file is read; a setting changed meanwhile (typed while
    // the notice shows) must still be the one it is planned with.
    QByteArray bytes = "G1 Z-1 F200\n";
    for (int i = 0; i < 40; ++i) {
        bytes += "G1 X" + QByteArray::number(i % 9) + " Y2\nG2 X" + QByteArray::number(i % 9 + 4) +
                 " Y2 I2 J0\n";
    }
    const QString path = WriteFile("arcs.nc", bytes);
    for (const char* pulses : {"800", "3200"}) {
        c().setpulses->setText(pulses);
        Load(path);
        const QString expected = c().CheckText->text();
        const QImage plot = c().Picture1->Image();
        ASSERT_TRUE(expected.contains("reports")) << expected.toStdString();

        c().setpulses->setText("533.333");
        QMetaObject::invokeMethod(
            form.get(), [this, pulses] { c().setpulses->setText(pulses); }, Qt::QueuedConnection);
        Load(path);
        EXPECT_EQ(c().CheckText->text(), expected) << pulses;
        EXPECT_TRUE(c().Picture1->Image() == plot) << pulses;
    }
}

TEST_F(MainFormLoadTest, EmptyProgramsAndRunsWithoutAProgramDoNothingHarmful) {
    form->Run2_Click(); // before any load: 100 empty rows, LineCount 0
    EXPECT_TRUE(c().Run2->isEnabled());
    EXPECT_EQ(GreenPixels(), 0);

    Load(WriteFile("none.nc", "(nothing to cut)\nM30\n"));
    EXPECT_EQ(c().Grid1Model->rowCount(), 0);
    EXPECT_EQ(c().linesload->text(), "Line Count = 0");
    EXPECT_EQ(c().xmaxloaded->text(), "0");
    EXPECT_TRUE(c().Run2->isEnabled());
    // Nothing to run is said, not left to a Run button that does nothing.
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].endsWith("holds no move at all, so there is nothing to run."))
        << messages.shown[0].toStdString();
}

TEST_F(MainFormLoadTest, RunningOutOfMemoryWhileLoadingIsAMessageAndAnEmptyTable) {
    const QString path = WriteFile("square.nc", "G01 X10 F200\nY10\nX0\nY0\n");
    Load(path);
    ASSERT_EQ(form->Program().LineCount, 4);

    whileDialogOpen = [] { throw std::bad_alloc(); };
    EXPECT_NO_THROW(Load(path));
    EXPECT_EQ(messages.shown.last(),
              "There is not enough memory to load this G-code file, so nothing is loaded.");
    EXPECT_EQ(form->Program().LineCount, 0);
    EXPECT_EQ(form->Program().program, nullptr);
    EXPECT_FALSE(form->ProgramBusy());

    whileDialogOpen = nullptr;
    Load(path);
    EXPECT_EQ(form->Program().LineCount, 4) << "the next load works as before";
}

} // namespace

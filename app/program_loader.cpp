// The Load button: the open dialog, the filter pass into the working copy temp.txt, the row
// pass back out of it into Grid1, the position reset and the preview pass.
#include "app/program_loader.h"

#include "app/field_text.h"
#include "app/operator_messages.h"
#include "app/run_controller.h"
#include "app/settings_file.h"
#include "app/window_mirror.h"
#include "device/waitable_timer.h"
#include "gcode/loader.h"
#include "gcode/plot_widget.h"
#include "gcode/program_table_model.h"
#include "manual/zeroing.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include <new>
#include <stdexcept>

namespace app {

const QString GcodeFilter =
    QStringLiteral("Gcode (*.gc);;Gcode (*.agc);;Gcode (*.nc);;Gcode (*.ngc);;"
                   "Gcode (*.gcode);;Gcode (*.tap);;All files (*)");

QString OpenDialogFolder(const QString& lastFolder, const QString& programDirectory,
                         bool programDirectoryWritable, const QString& home) {
    const QFileInfo last(lastFolder);
    if (lastFolder.isEmpty() || !last.isDir()) {
        return home;
    }
    if (!programDirectoryWritable &&
        last.canonicalFilePath() == QFileInfo(programDirectory).canonicalFilePath()) {
        return home;
    }
    return lastFolder;
}

namespace {

// The file is read, and the table filled, a piece at a time: between pieces the window paints
// and the notice's bar moves.
constexpr qint64 LoadChunkBytes = qint64{1} << 20;

// Share of the wait window's bar per stage, in thousandths.
constexpr int FilterShare = 350;
constexpr int RowShare = 250;

} // namespace

ProgramLoader::ProgramLoader(Uses uses, FileChooser chooser)
    : u_(std::move(uses)), chooseFile_(std::move(chooser)) {}

void ProgramLoader::pause(int ms) {
    if (device::clsWaitableTimer* delay = u_.delayTimer()) {
        delay->Wait(ms);
    }
}

void ProgramLoader::LoadGcode_Click() {
    if (u_.guard.Busy()) {
        return; // a load, or a motion waiting for the board: loading now would zero its positions
    }
    const MotionGuard::Hold hold(u_.guard);
    busy_ = true;
    const MainControls& c = u_.controls;

    // Reset: every click, before the dialog.
    c.Check2->setChecked(false);
    c.CheckText->clear();
    u_.loaded.program.reset();
    c.Grid1Model->ResetEmpty(100);
    u_.loaded.TempLineCount = 0;
    u_.loaded.LineCount = 0;

    // A program too large for this computer's memory is a message and an empty table, never
    // the end of the program with the machine's position lost.
    try {
        const QString chosen = chooseFile_(GcodeFilter, u_.dialogFolder(), u_.openFilter);
        if (!chosen.isEmpty()) {
            loadChosenFile(chosen);
        }
    } catch (const std::bad_alloc&) {
        outOfMemory();
    } catch (const std::length_error&) {
        outOfMemory();
    }

    // Always, also after a cancelled dialog or a file that could not be loaded.
    if (wait_) {
        wait_->hide();
    }
    const gcode::Extent none;
    const gcode::Program* program = u_.loaded.program.get();
    c.xmaxloaded->setText(FieldText((program ? program->XExtent : none).Shown()));
    c.ymaxloaded->setText(FieldText((program ? program->YExtent : none).Shown()));
    busy_ = false;
}

void ProgramLoader::outOfMemory() {
    const MainControls& c = u_.controls;
    u_.loaded.program.reset();
    c.Grid1Model->ResetEmpty(100);
    u_.loaded.TempLineCount = 0;
    u_.loaded.LineCount = 0;
    u_.messages.Show(QStringLiteral("There is not enough memory to load this G-code file, so "
                                    "nothing is loaded."));
}

void ProgramLoader::loadChosenFile(const QString& path) {
    const MainControls& c = u_.controls;
    u_.loaded.GcodeFile = path;
    // A folder with a line break in its name cannot go on its settings line; the last one stays.
    if (const QString folder = QFileInfo(path).absolutePath(); !HoldsLineBreak(CoreText(folder))) {
        u_.LastFolder = folder;
    }
    u_.saveSettings();

    // A folder would not open, but a device would, and would be read without end.
    if (const auto why = gcode::NotAGcodeFile(QFile::encodeName(path).toStdString())) {
        u_.messages.Show(QStringLiteral("The G-code file %1 could not be opened: %2")
                             .arg(QDir::toNativeSeparators(path), FieldText(*why)));
        return;
    }
    QFile gcodeFile(path);
    if (!gcodeFile.open(QIODevice::ReadOnly)) {
        u_.messages.Show(QStringLiteral("The G-code file %1 could not be opened: %2")
                             .arg(QDir::toNativeSeparators(path), gcodeFile.errorString()));
        return;
    }
    if (!wait_) {
        wait_ = new WaitWindow(c.Frame1->window());
        wait_->setWindowFlag(Qt::Window);
    }
    wait_->ShowProgress(gcodeFile.size() > LoadChunkBytes);
    wait_->show();
    pause(100); // lets the window and the notice paint

    std::shared_ptr<gcode::Program> program = filterAndReadBack(gcodeFile);
    if (!program) {
        return; // the operator has been told; the table stays empty
    }

    // The program's coordinates count from where the machine stands now.
    u_.loaded.program = program;
    c.Grid1Model->SetProgram(program);
    u_.loaded.LineCount = static_cast<int>(c.Grid1Model->rowCount());
    for (const motion::Axis a : motion::kAxes) {
        manual::ZeroAxis(u_.motion.machine, a);
        u_.motion.unverified[motion::index(a)].clear(); // loading zeroes every axis
    }
    ShowPositions(c, u_.motion);
    u_.motion.pen.ToOrigin();

    c.linesload->setText(QStringLiteral("Line Count = %1").arg(u_.loaded.LineCount));
    c.Grid1->scrollToTop();
    u_.loaded.PreviewDone = 0;
    u_.run.RunProgram(wait_);
    u_.loaded.PreviewDone = 1;
    c.Grid1->scrollToTop();
}

void ProgramLoader::tempFailed(const QString& what, const QString& why) {
    u_.messages.Show(
        QStringLiteral("The working copy %1 could not be %2: %3. The program is not loaded.")
            .arg(QDir::toNativeSeparators(u_.tempFilePath()), what, why));
}

std::shared_ptr<gcode::Program> ProgramLoader::filterAndReadBack(QFile& gcodeFile) {
    QByteArray chunk(static_cast<qsizetype>(LoadChunkBytes), Qt::Uninitialized);
    gcode::LineFilter filter;
    if (!filterIntoTemp(gcodeFile, filter, chunk)) {
        return nullptr;
    }
    u_.loaded.TempLineCount = static_cast<int>(filter.TempLineCount());
    return readTempBack(filter.TempLineCount(), chunk);
}

// Pass 1: the file, a piece at a time, filtered into temp.txt.
bool ProgramLoader::filterIntoTemp(QFile& gcodeFile, gcode::LineFilter& filter, QByteArray& chunk) {
    QFile temp(u_.tempFilePath());
    if (!temp.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        tempFailed(QStringLiteral("created"), temp.errorString());
        return false;
    }
    const qint64 fileBytes = gcodeFile.size();
    std::string kept;
    qint64 done = 0;
    for (;;) {
        const qint64 n = gcodeFile.read(chunk.data(), chunk.size());
        if (n < 0) {
            u_.messages.Show(
                QStringLiteral("The G-code file %1 could not be read: %2")
                    .arg(QDir::toNativeSeparators(u_.loaded.GcodeFile), gcodeFile.errorString()));
            return false;
        }
        kept.clear();
        if (n == 0) {
            filter.Finish(kept);
        } else {
            filter.Feed(std::string_view(chunk.constData(), static_cast<std::size_t>(n)), kept);
        }
        if (const auto refusal = filter.Refusal()) {
            u_.messages.Show(QStringLiteral("The G-code file %1 is refused. %2")
                                 .arg(QDir::toNativeSeparators(u_.loaded.GcodeFile),
                                      FieldText(refusal->message)));
            return false;
        }
        if (temp.write(kept.data(), static_cast<qint64>(kept.size())) !=
            static_cast<qint64>(kept.size())) {
            tempFailed(QStringLiteral("written"), temp.errorString());
            return false;
        }
        if (n == 0) {
            break;
        }
        done += n;
        if (fileBytes > 0) {
            wait_->SetProgress(
                static_cast<int>(FilterShare * std::min(done, fileBytes) / fileBytes));
        }
        pause(0);
    }
    gcodeFile.close();
    if (!temp.flush() || temp.error() != QFileDevice::NoError) {
        tempFailed(QStringLiteral("written"), temp.errorString());
        return false;
    }
    return true;
}

// Pass 2: the working copy read back, one row per line.
std::shared_ptr<gcode::Program> ProgramLoader::readTempBack(std::size_t lines, QByteArray& chunk) {
    QFile back(u_.tempFilePath());
    if (!back.open(QIODevice::ReadOnly)) {
        tempFailed(QStringLiteral("read"), back.errorString());
        return nullptr;
    }
    const qint64 tempBytes = back.size();
    gcode::ProgramBuilder builder(
        {CoreText(u_.controls.cutspeed->text()), CoreText(u_.controls.Travspeed->text())}, lines);
    qint64 done = 0;
    for (;;) {
        const qint64 n = back.read(chunk.data(), chunk.size());
        if (n < 0) {
            tempFailed(QStringLiteral("read"), back.errorString());
            return nullptr;
        }
        if (n == 0) {
            break;
        }
        builder.Feed(std::string_view(chunk.constData(), static_cast<std::size_t>(n)));
        done += n;
        if (tempBytes > 0) {
            wait_->SetProgress(FilterShare +
                               static_cast<int>(RowShare * std::min(done, tempBytes) / tempBytes));
        }
        pause(0);
    }
    auto program = std::make_shared<gcode::Program>(builder.Finish());
    program->TempLineCount = lines;
    return program;
}

} // namespace app

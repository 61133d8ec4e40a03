// The Load button: the open dialog, the file read into Grid1 (the original filter's lines into
// the working copy temp.txt on the way), the position reset and the preview pass.
#include "app/program_loader.h"

#include "motion/run_journal.h"

#include "app/field_text.h"
#include "app/operator_messages.h"
#include "app/run_controller.h"
#include "app/settings_file.h"
#include "app/window_mirror.h"
#include "device/waitable_timer.h"
#include "gcode/program_load.h"
#include "gcode/program_table_model.h"
#include "gcode/toolpath_view.h"
#include "manual/zeroing.h"

#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>

#include <atomic>
#include <exception>
#include <new>
#include <stdexcept>
#include <thread>

namespace app {

const QString GcodeFilter =
    QStringLiteral("G-code files (*.gc *.agc *.nc *.ngc *.gcode *.tap);;Gcode (*.gc);;"
                   "Gcode (*.agc);;Gcode (*.nc);;All files (*)");

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

// Share of the wait window's bar for reading the file, in thousandths; the preview has the rest.
constexpr int ReadShare = 600;

// Rows handed to the preview's planner at a time while the file is read.
constexpr std::size_t SliceRows = 16384;

} // namespace

ProgramLoader::ProgramLoader(Uses uses, FileChooser chooser)
    : u_(std::move(uses)), chooseFile_(std::move(chooser)) {}

void ProgramLoader::pause(int ms) {
    if (device::clsWaitableTimer* delay = u_.delayTimer()) {
        delay->Wait(ms);
    }
}

void ProgramLoader::LoadGcode_Click() {
    load([this] { return chooseFile_(GcodeFilter, u_.dialogFolder(), u_.openFilter); });
}

void ProgramLoader::LoadFile(const QString& path) {
    load([&path] { return path; });
}

void ProgramLoader::load(const std::function<QString()>& choose) {
    if (u_.guard.Busy()) {
        return; // a load, or a motion waiting for the board: loading now would zero its positions
    }
    const MotionGuard::Hold hold(u_.guard);
    busy_ = true;
    const MainControls& c = u_.controls;

    // Reset: every click, before the dialog. A new program starts at its own speeds.
    c.Check2->setChecked(false);
    c.FeedOverride->setValue(100);
    c.CheckText->clear();
    u_.loaded.program.reset();
    c.Grid1Model->ResetEmpty(100);
    u_.loaded.TempLineCount = 0;
    u_.loaded.LineCount = 0;
    u_.loaded.SkippedMovesAgreed = false;

    // A program too large for this computer's memory is a message and an empty table, never
    // the end of the program with the machine's position lost.
    try {
        const QString chosen = choose();
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

    // The preview is planned while the file is read, from the settings as they stand now.
    const auto early =
        std::make_unique<motion::EarlyPreview>(u_.settings.Plan(), u_.settings.Speeds());
    std::shared_ptr<gcode::Program> program = readFile(gcodeFile, *early);
    if (!program) {
        return; // the operator has been told; the table stays empty
    }
    if (program->LineCount() == 0) {
        u_.messages.Show(QStringLiteral("The G-code file %1 holds no move at all, so there is "
                                        "nothing to run.")
                             .arg(QDir::toNativeSeparators(path)));
    }

    // The view's path is built meanwhile, while the preview's planning catches up.
    early->BuildPath(program, u_.settings.ArcToleranceMm());
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
    u_.run.RunProgram(wait_, early.get());
    u_.loaded.PreviewDone = 1;
    c.Grid1->scrollToTop();
}

void ProgramLoader::tempFailed(const QString& what, const QString& why) {
    u_.messages.Show(
        QStringLiteral("The working copy %1 could not be %2: %3. The program is not loaded.")
            .arg(QDir::toNativeSeparators(u_.tempFilePath()), what, why));
}

namespace {

// The file, a piece at a time, through the original filter (its kept lines into temp.txt) and
// the G-code reader at once, on a thread of its own: the window paints, and the designed pause
// passes, while it reads. It touches nothing of the window; what it found is read once it ends.
struct FileReading {
    enum class Failure { None, Read, Refused, Write };

    void Run(QFile& gcodeFile, QFile& temp, const gcode::LoadSettings& settings,
             const std::function<void(int)>& progress, gcode::ProgramLoad::SliceSink slices) {
        try {
            read(gcodeFile, temp, settings, progress, std::move(slices));
        } catch (...) {
            error = std::current_exception();
        }
    }

    Failure failure = Failure::None;
    QString why; // the file's or the working copy's error, or the refusal's words
    gcode::Program program;
    std::size_t tempLines = 0;
    motion::ContentHash hash; // of every byte read
    std::exception_ptr error; // memory ran out: the window says so

private:
    void read(QFile& gcodeFile, QFile& temp, const gcode::LoadSettings& settings,
              const std::function<void(int)>& progress, gcode::ProgramLoad::SliceSink slices) {
        gcode::ProgramLoad load(settings);
        load.SliceRows(std::move(slices), SliceRows, true);
        QByteArray chunk(static_cast<qsizetype>(LoadChunkBytes), Qt::Uninitialized);
        const qint64 fileBytes = gcodeFile.size();
        std::string kept;
        qint64 done = 0;
        for (;;) {
            const qint64 n = gcodeFile.read(chunk.data(), chunk.size());
            if (n < 0) {
                failure = Failure::Read;
                why = gcodeFile.errorString();
                return;
            }
            kept.clear();
            hash.Add(std::string_view(chunk.constData(), static_cast<std::size_t>(n)));
            if (n == 0) {
                load.Finish(&kept);
            } else {
                load.Feed(std::string_view(chunk.constData(), static_cast<std::size_t>(n)), &kept);
            }
            if (const auto& refusal = load.Refusal()) {
                failure = Failure::Refused;
                why = FieldText(refusal->message);
                return;
            }
            if (temp.write(kept.data(), static_cast<qint64>(kept.size())) !=
                static_cast<qint64>(kept.size())) {
                failure = Failure::Write;
                why = temp.errorString();
                return;
            }
            if (n == 0) {
                break;
            }
            done += n;
            if (fileBytes > 0) {
                progress(static_cast<int>(ReadShare * std::min(done, fileBytes) / fileBytes));
            }
        }
        tempLines = load.TempLineCount();
        program = load.TakeProgram();
    }
};

} // namespace

std::shared_ptr<gcode::Program> ProgramLoader::readFile(QFile& gcodeFile,
                                                        motion::EarlyPreview& early) {
    QFile temp(u_.tempFilePath());
    if (!temp.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        tempFailed(QStringLiteral("created"), temp.errorString());
        return nullptr;
    }
    const MainControls& c = u_.controls;
    gcode::LoadSettings settings;
    settings.feeds = {CoreText(c.cutspeed->text()), CoreText(c.Travspeed->text())};
    settings.arcToleranceMm = u_.settings.ArcToleranceMm();
    settings.fileBytes = static_cast<std::uint64_t>(std::max<qint64>(gcodeFile.size(), 0));

    // The bar follows the reading from the window's own thread; the end of the reading ends
    // the wait for it.
    QPointer<WaitWindow> notice = wait_;
    QEventLoop waiting;
    std::atomic<bool> done{false};
    FileReading reading;
    std::thread reader([&] {
        reading.Run(
            gcodeFile, temp, settings,
            [notice](int share) {
                QMetaObject::invokeMethod(
                    notice, [notice, share] { notice->SetProgress(share); }, Qt::QueuedConnection);
            },
            [&early](gcode::Program slice) { early.Add(std::move(slice)); });
        done = true;
        QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection);
    });
    pause(100); // lets the window and the notice paint
    if (!done) {
        waiting.exec();
    }
    reader.join();
    if (reading.error) {
        std::rethrow_exception(reading.error);
    }
    gcodeFile.close();
    switch (reading.failure) {
    case FileReading::Failure::Read:
        u_.messages.Show(QStringLiteral("The G-code file %1 could not be read: %2")
                             .arg(QDir::toNativeSeparators(u_.loaded.GcodeFile), reading.why));
        return nullptr;
    case FileReading::Failure::Refused:
        u_.messages.Show(QStringLiteral("The G-code file %1 is refused. %2")
                             .arg(QDir::toNativeSeparators(u_.loaded.GcodeFile), reading.why));
        return nullptr;
    case FileReading::Failure::Write:
        tempFailed(QStringLiteral("written"), reading.why);
        return nullptr;
    case FileReading::Failure::None:
        break;
    }
    if (!temp.flush() || temp.error() != QFileDevice::NoError) {
        tempFailed(QStringLiteral("written"), temp.errorString());
        return nullptr;
    }
    u_.loaded.TempLineCount = static_cast<int>(reading.tempLines);
    u_.loaded.fileBytes = reading.hash.Bytes();
    u_.loaded.contentHash = reading.hash.Value();
    return std::make_shared<gcode::Program>(std::move(reading.program));
}

} // namespace app

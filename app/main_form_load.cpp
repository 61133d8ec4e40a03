// The Load button: the open dialog, the filter pass into the working copy temp.txt, the row
// pass back out of it into Grid1, the position reset and the preview pass.
#include "app/main_form.h"
#include "app/main_form_program.h"
#include "app/operator_messages.h"
#include "device/waitable_timer.h"
#include "gcode/loader.h"
#include "gcode/plot_widget.h"
#include "gcode/program_table_model.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

namespace app {
namespace {

const QString GcodeFilter = QStringLiteral("Gcode (*.gc);;Gcode (*.agc);;Gcode (*.nc)");

std::string latin1(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString fromLatin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Share of the wait window's bar per stage, in thousandths.
constexpr int FilterShare = 350;
constexpr int RowShare = 250;

} // namespace

void MainForm::connectProgramControls() {
    programLink_ = std::make_unique<ProgramLink>();
    programLink_->chooseFile = [this](const QString& filter, const QString& folder) {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Open"), folder, filter);
    };
    connect(ui_.LoadGcode, &QPushButton::clicked, this, &MainForm::LoadGcode_Click);
    connect(ui_.Run2, &QPushButton::clicked, this, &MainForm::Run2_Click);
}

void MainForm::SetFileChooser(FileChooser chooser) {
    programLink_->chooseFile = std::move(chooser);
}

const gcode::Program* MainForm::LoadedProgram() const {
    return programLink_->program.get();
}

bool MainForm::ProgramBusy() const {
    return programLink_->busy;
}

WaitWindow* MainForm::Wait() const {
    return programLink_->wait;
}

QString MainForm::TempFilePath() const {
    return QDir(DataFolder()).filePath(QStringLiteral("temp.txt"));
}

void MainForm::LoadGcode_Click() {
    ProgramLink& link = *programLink_;
    if (link.busy) {
        return;
    }
    link.busy = true;

    // Reset: every click, before the dialog.
    ui_.Check2->setChecked(false);
    XExtent.Reset();
    YExtent.Reset();
    link.program.reset();
    ui_.Grid1Model->ResetEmpty(100);
    TempLineCount = 0;
    LineCount = 0;

    const QString chosen = link.chooseFile(GcodeFilter, LastFolder);
    if (!chosen.isEmpty()) {
        loadChosenFile(chosen);
    }

    // Always, also after a cancelled dialog or a file that could not be loaded.
    if (link.wait) {
        link.wait->hide();
    }
    ui_.xmaxloaded->setText(fromLatin1(XExtent.Shown()));
    ui_.ymaxloaded->setText(fromLatin1(YExtent.Shown()));
    link.busy = false;
}

void MainForm::loadChosenFile(const QString& path) {
    GcodeFile = path;
    LastFolder = QFileInfo(path).absolutePath();
    SaveSettings();

    QFile gcodeFile(path);
    if (!gcodeFile.open(QIODevice::ReadOnly)) {
        services_.messages->Show(QStringLiteral("The G-code file %1 could not be opened: %2")
                                     .arg(QDir::toNativeSeparators(path), gcodeFile.errorString()));
        return;
    }
    ProgramLink& link = *programLink_;
    if (!link.wait) {
        link.wait = new WaitWindow(this);
        link.wait->setWindowFlag(Qt::Window);
    }
    link.wait->ShowProgress(gcodeFile.size() > LoadChunkBytes);
    link.wait->show();
    if (DelayTimer) {
        DelayTimer->Wait(100); // lets the window and the notice paint
    }

    std::shared_ptr<gcode::Program> program = filterAndReadBack(gcodeFile);
    if (!program) {
        return; // the operator has been told; the table stays empty
    }

    // The program's coordinates count from where the machine stands now.
    link.program = program;
    ui_.Grid1Model->SetProgram(program);
    XExtent = program->XExtent;
    YExtent = program->YExtent;
    LineCount = static_cast<int>(ui_.Grid1Model->rowCount());
    XPosition = YPosition = ZPosition = 0;
    for (QLabel* display : {ui_.XpositionDisplay, ui_.YpositionDisplay, ui_.ZpositionDisplay}) {
        display->setText(QStringLiteral("0000.000"));
    }
    PrevPlotX = PlotX = gcode::PlotOriginX;
    PrevPlotY = PlotY = gcode::PlotOriginY;
    RunMode = gcode::PreviewRunMode;

    ui_.linesload->setText(QStringLiteral("Line Count = %1").arg(LineCount));
    ui_.Grid1->scrollToTop();
    PreviewDone = 0;
    runProgram();
    PreviewDone = 1;
    ui_.Grid1->scrollToTop();
}

std::shared_ptr<gcode::Program> MainForm::filterAndReadBack(QFile& gcodeFile) {
    WaitWindow& wait = *programLink_->wait;
    const QString tempPath = TempFilePath();
    const auto tempFailed = [&](const QString& what, const QString& why) {
        services_.messages->Show(
            QStringLiteral("The working copy %1 could not be %2: %3. The program is not loaded.")
                .arg(QDir::toNativeSeparators(tempPath), what, why));
        return nullptr;
    };

    // Pass 1: the file, a piece at a time, filtered into temp.txt.
    QFile temp(tempPath);
    if (!temp.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return tempFailed(QStringLiteral("created"), temp.errorString());
    }
    const qint64 fileBytes = gcodeFile.size();
    QByteArray chunk(static_cast<qsizetype>(LoadChunkBytes), Qt::Uninitialized);
    std::string kept;
    gcode::LineFilter filter;
    qint64 done = 0;
    for (;;) {
        const qint64 n = gcodeFile.read(chunk.data(), chunk.size());
        if (n < 0) {
            services_.messages->Show(
                QStringLiteral("The G-code file %1 could not be read: %2")
                    .arg(QDir::toNativeSeparators(GcodeFile), gcodeFile.errorString()));
            return nullptr;
        }
        kept.clear();
        if (n == 0) {
            filter.Finish(kept);
        } else {
            filter.Feed(std::string_view(chunk.constData(), static_cast<std::size_t>(n)), kept);
        }
        if (temp.write(kept.data(), static_cast<qint64>(kept.size())) !=
            static_cast<qint64>(kept.size())) {
            return tempFailed(QStringLiteral("written"), temp.errorString());
        }
        if (n == 0) {
            break;
        }
        done += n;
        if (fileBytes > 0) {
            wait.SetProgress(static_cast<int>(FilterShare * std::min(done, fileBytes) / fileBytes));
        }
        if (DelayTimer) {
            DelayTimer->Wait(0);
        }
    }
    gcodeFile.close();
    if (!temp.flush() || temp.error() != QFileDevice::NoError) {
        return tempFailed(QStringLiteral("written"), temp.errorString());
    }
    temp.close();
    TempLineCount = static_cast<int>(filter.TempLineCount());

    // Pass 2: the working copy read back, one row per line.
    QFile back(tempPath);
    if (!back.open(QIODevice::ReadOnly)) {
        return tempFailed(QStringLiteral("read"), back.errorString());
    }
    const qint64 tempBytes = back.size();
    gcode::ProgramBuilder builder({latin1(ui_.cutspeed->text()), latin1(ui_.Travspeed->text())},
                                  filter.TempLineCount());
    done = 0;
    for (;;) {
        const qint64 n = back.read(chunk.data(), chunk.size());
        if (n < 0) {
            return tempFailed(QStringLiteral("read"), back.errorString());
        }
        if (n == 0) {
            break;
        }
        builder.Feed(std::string_view(chunk.constData(), static_cast<std::size_t>(n)));
        done += n;
        if (tempBytes > 0) {
            wait.SetProgress(FilterShare +
                             static_cast<int>(RowShare * std::min(done, tempBytes) / tempBytes));
        }
        if (DelayTimer) {
            DelayTimer->Wait(0);
        }
    }
    auto program = std::make_shared<gcode::Program>(builder.Finish());
    program->TempLineCount = filter.TempLineCount();
    return program;
}

} // namespace app

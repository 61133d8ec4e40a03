// The program run's entry (Run2) and its preview pass: every row planned as a run would plan
// it, the feed moves drawn in green, nothing sent, the positions put back at the end.
#include "app/main_form.h"
#include "app/main_form_program.h"
#include "app/operator_messages.h"
#include "device/waitable_timer.h"
#include "encoding/number_text.h"
#include "gcode/plot_widget.h"
#include "gcode/program_table_model.h"
#include "motion/program_run.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>

#include <vector>

namespace app {
namespace {

std::string latin1(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString fromLatin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

double numberOrZero(const QString& text) {
    return encoding::NumberOf(latin1(text)).value_or(0.0);
}

constexpr int PreviewProgressStart = 600; // thousandths of the wait window's bar

} // namespace

void MainForm::Run2_Click() {
    if (programLink_->busy) {
        return;
    }
    programLink_->busy = true;
    runProgram();
    programLink_->busy = false;
}

void MainForm::runProgram() {
    // Start of a run.
    PrevPlotX = PlotX = gcode::PlotOriginX;
    PrevPlotY = PlotY = gcode::PlotOriginY;
    DisableControls();
    const QString RunStartX = ui_.XpositionDisplay->text();
    const QString RunStartY = ui_.YpositionDisplay->text();
    const QString RunStartZ = ui_.ZpositionDisplay->text();
    PlotScale = gcode::FitPlotScale(XExtent, YExtent, ui_.Check3->isChecked());
    RunMode = ui_.Check2->isChecked()
                  ? gcode::SimulateRunMode
                  : (PreviewDone == 1 ? gcode::LiveRunMode : gcode::PreviewRunMode);
    LimitStop = 0;
    LastCutZ = numberOrZero(RunStartZ);
    PassToggle = 0;
    ui_.Picture1->Erase();
    if (LineCount > 0) {
        ui_.Grid1Model->SetFirstCellColour(LineCount - 1, gcode::RowWhite);
    }
    XDirection = YDirection = ZDirection = 0;

    // Live and simulated runs come with the send gateway; until then a run draws the
    // program as the preview does and sends nothing.
    previewRows();

    // End of a run: a preview (and a simulated run) leaves the machine where it was.
    const QString starts[3] = {RunStartX, RunStartY, RunStartZ};
    QLabel* displays[3] = {ui_.XpositionDisplay, ui_.YpositionDisplay, ui_.ZpositionDisplay};
    double* positions[3] = {&XPosition, &YPosition, &ZPosition};
    for (int a = 0; a < 3; ++a) {
        displays[a]->setText(fromLatin1(encoding::Format(latin1(starts[a]))));
        *positions[a] = numberOrZero(starts[a]);
    }
    EnableControls();
}

motion::MachineState MainForm::machineFromFields() const {
    motion::MachineState machine;
    const QLabel* displays[3] = {ui_.XpositionDisplay, ui_.YpositionDisplay, ui_.ZpositionDisplay};
    const double positions[3] = {XPosition, YPosition, ZPosition};
    const int directions[3] = {XDirection, YDirection, ZDirection};
    for (std::size_t a = 0; a < 3; ++a) {
        // The display is what planning starts from: the operator sees it.
        machine.axes[a].positionText = latin1(displays[a]->text());
        machine.axes[a].positionMm = positions[a];
        machine.axes[a].direction = directions[a] != 0;
    }
    return machine;
}

void MainForm::storeMachine(const motion::MachineState& machine) {
    QLabel* displays[3] = {ui_.XpositionDisplay, ui_.YpositionDisplay, ui_.ZpositionDisplay};
    double* positions[3] = {&XPosition, &YPosition, &ZPosition};
    int* directions[3] = {&XDirection, &YDirection, &ZDirection};
    for (std::size_t a = 0; a < 3; ++a) {
        displays[a]->setText(fromLatin1(machine.axes[a].positionText));
        *positions[a] = machine.axes[a].positionMm;
        *directions[a] = machine.axes[a].direction ? 1 : 0;
    }
}

motion::PlanSettings MainForm::planSettingsFromFields() const {
    motion::PlanSettings settings;
    settings.pulsesPerMmText = latin1(ui_.setpulses->text());
    settings.pwDelayText = latin1(ui_.pwm1->text());
    settings.inverse = {ui_.InverseX->isChecked(), ui_.InverseY->isChecked(),
                        ui_.InverseZ->isChecked()};
    settings.limitsDisabled = ui_.Dlimits->isChecked();
    return settings;
}

motion::RunSpeeds MainForm::runSpeedsFromFields() const {
    motion::RunSpeeds speeds;
    speeds.overrideGcode = ui_.Check1->isChecked();
    speeds.travelSpeedText = latin1(ui_.Travspeed->text());
    speeds.cutSpeedText = latin1(ui_.cutspeed->text());
    speeds.Prepare();
    return speeds;
}

void MainForm::showAxisEchoes(const motion::PlannedMove& move) {
    // Text1..Text6 belong to the line just planned; the direction echoes are written only for
    // the axes it planned.
    for (int n = 1; n <= 6; ++n) {
        ui_.Text(n)->clear();
    }
    QString* distances[3] = {&XDistanceText, &YDistanceText, &ZDistanceText};
    const int distanceEcho[3] = {1, 2, 3};
    const int directionEcho[3] = {7, 8, 10};
    for (std::size_t a = 0; a < 3; ++a) {
        *distances[a] = QStringLiteral("0000.000");
        if (const auto& echo = move.echoes[a]) {
            *distances[a] = fromLatin1(echo->distanceText);
            ui_.Text(distanceEcho[a])->setText(*distances[a]);
            ui_.Text(directionEcho[a])
                ->setText(echo->direction ? QStringLiteral("1") : QStringLiteral("0"));
        }
    }
}

void MainForm::showReportEchoes(const motion::MoveReport& report) {
    if (report.error) {
        return;
    }
    for (const motion::Axis a : motion::kAxes) {
        ui_.Text(4 + static_cast<int>(motion::index(a)))->setText(fromLatin1(report.StepsText(a)));
    }
    ui_.Text(11)->setText(fromLatin1(report.XBinaryText()));
    if (const auto first = report.Report(0)) {
        ui_.Packet->setText(fromLatin1(first->Packet()));
    }
}

void MainForm::previewRows() {
    const std::shared_ptr<const gcode::Program> program = programLink_->program;
    const std::size_t rows =
        program ? std::min<std::size_t>(program->LineCount(), static_cast<std::size_t>(LineCount))
                : 0;
    if (rows == 0) {
        return; // nothing loaded, or an empty program: nothing to plan or draw
    }
    WaitWindow* wait = programLink_->wait;
    const bool showProgress = wait && wait->isVisible() && wait->ProgressShown();

    motion::MachineState machine = machineFromFields();
    const motion::PlanSettings settings = planSettingsFromFields();
    motion::RunSpeeds speeds = runSpeedsFromFields();
    gcode::PlotPen pen;
    pen.ToOrigin();
    pen.PlotScale = PlotScale;
    pen.LastCutZ = LastCutZ;
    pen.PassToggle = PassToggle;

    std::vector<gcode::PlotSegment> segments;
    segments.reserve(PreviewRowsPerStep);
    std::array<int, 3> directionEcho = {-1, -1, -1}; // the last echo of each axis
    motion::ProgramRowMove lastPlanned;
    std::optional<motion::ProgramRowMove> refused;
    std::size_t planned = 0;
    for (std::size_t row = 0; row < rows; ++row) {
        if (row > 0 && row % PreviewRowsPerStep == 0) {
            ui_.Picture1->DrawSegments(segments);
            segments.clear();
            if (showProgress) {
                wait->SetProgress(PreviewProgressStart +
                                  static_cast<int>((1000 - PreviewProgressStart) * row / rows));
            }
            if (DelayTimer) {
                DelayTimer->Wait(0);
            }
            // The speed boxes and Override are read afresh at every line; they can only have
            // changed while the events ran.
            speeds = runSpeedsFromFields();
        }
        motion::ProgramRowMove move =
            motion::PlanProgramRow(*program, row, machine, settings, speeds);
        for (std::size_t a = 0; a < 3; ++a) {
            if (const auto& echo = move.planned.echoes[a]) {
                directionEcho[a] = echo->direction ? 1 : 0;
            }
        }
        if (move.planned.error) {
            machine = std::move(move.planned.after);
            refused = std::move(move);
            break;
        }
        const gcode::PlotRowInput plotRow =
            motion::RowPlotInput(move, settings, gcode::PreviewRunMode);
        machine = std::move(move.planned.after);
        if (auto segment = gcode::PlotRow(pen, plotRow)) {
            segments.push_back(*segment);
        }
        lastPlanned = std::move(move);
        ++planned;
    }
    ui_.Picture1->DrawSegments(segments);

    // The window ends up showing what showing every row in turn would have left.
    storeMachine(machine);
    if (planned > 0) {
        showAxisEchoes(lastPlanned.planned);
        showReportEchoes(lastPlanned.planned.report);
    }
    if (refused) {
        showAxisEchoes(refused->planned);
    }
    const int directionField[3] = {7, 8, 10};
    for (std::size_t a = 0; a < 3; ++a) {
        if (directionEcho[a] >= 0) {
            ui_.Text(directionField[a])->setText(QString::number(directionEcho[a]));
        }
    }
    PrevPlotX = pen.PrevPlotX;
    PrevPlotY = pen.PrevPlotY;
    PlotX = pen.PlotX;
    PlotY = pen.PlotY;
    LastCutZ = pen.LastCutZ;
    PassToggle = pen.PassToggle;
    ui_.Text(9)->setText(QStringLiteral("OA"));
    const int lastRow = static_cast<int>(refused ? planned : planned - 1);
    ui_.Grid1->scrollTo(ui_.Grid1Model->index(lastRow, 0), QAbstractItemView::PositionAtTop);
    if (showProgress) {
        wait->SetProgress(1000);
    }
    if (refused) {
        services_.messages->Show(fromLatin1(refused->planned.error->message));
    }
}

} // namespace app

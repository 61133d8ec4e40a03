#include "app/run_controller.h"

#include "app/device_link.h"
#include "app/field_text.h"
#include "app/journal_keeper.h"
#include "app/operator_messages.h"
#include "app/wait_window.h"
#include "app/window_mirror.h"
#include "encoding/thousandths.h"
#include "gcode/program_load.h"
#include "gcode/program_table_model.h"
#include "gcode/toolpath_view.h"
#include "motion/plan_ahead.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

namespace app {
namespace {

// A board that answers at once takes thousands of lines a second, more than anyone can read
// or the window can paint. What the operator sees follows the run at most this often, always
// showing the latest line, and always the line the run ends on.
constexpr std::int64_t ShowEveryMs = 50;
// The progress label and bar need less: a few updates a second. So does the table's scrolling:
// an item view paints all its rows again whenever it scrolls, by far the dearest part of a
// frame, and between two scrolls the red row only moves down within the view.
constexpr std::int64_t ProgressEveryMs = 250;
constexpr std::int64_t ScrollEveryMs = 400;
constexpr std::int64_t Never = std::numeric_limits<std::int64_t>::min() / 2;

// The preview has no waits: it lets the window paint, and the notice's bar move, once a piece.
constexpr std::size_t PreviewRowsPerStep = motion::PreviewRowsPerPiece;
constexpr int PreviewProgressStart = 600; // thousandths of the notice's bar

// What "Run from here" asks before it moves anything: the row, and the approach leg by leg.
QString FromHereQuestion(const gcode::Program& program, std::size_t row, std::int64_t fromZ,
                         const std::vector<motion::ApproachLeg>& legs,
                         const motion::RunSpeeds& speeds) {
    QString question = QStringLiteral("Run from line %1 of the file (row %2) to the end.\n\n")
                           .arg(program.fileLines.FileLine(row))
                           .arg(row + 1);
    question += legs.empty()
                    ? QStringLiteral("The machine is already where that line starts.")
                    : QStringLiteral("First the machine goes:\n") +
                          FieldText(motion::ApproachText(
                              fromZ, legs, motion::ApproachFeedText(program, row, speeds)));
    return question + QStringLiteral("\n\nStart?");
}

// A dwell looks at STOP, Pause and the limit flag at least this often.
constexpr int DwellSliceMs = 50;

// The first cell of the last row the board acknowledged before a run stopped early.
constexpr std::uint32_t RowAcknowledged = 0x90EE90; // light green, 0xBBGGRR

} // namespace

RunController::RunController(Uses uses) : u_(std::move(uses)) {}

RunController::~RunController() {
    if (showTimer_ != 0) {
        u_.device.Clock().Cancel(showTimer_);
    }
}

void RunController::Run2_Click() {
    if (u_.guard.Busy()) {
        return; // one motion at a time: a load, a GOTO or a line is waiting
    }
    const MotionGuard::Hold hold(u_.guard);
    if (paused_ && stepper_.Mode() ==
                       motion::ChooseRunMode(u_.settings.Simulate(), u_.loaded.PreviewDone == 1)) {
        continueRun();
        return;
    }
    abandonPause(); // Simulate was changed meanwhile: that run is over, a new one starts
    if (const gcode::Program* program = u_.loaded.program.get();
        program && u_.loaded.PreviewDone == 1 && !u_.loaded.SkippedMovesAgreed) {
        if (const auto question = gcode::SkippedMovesQuestion(*program)) {
            if (!u_.messages.Confirm(FieldText(*question))) {
                return;
            }
            u_.loaded.SkippedMovesAgreed = true;
        }
    }
    // A live run moves the machine from where the displays say it is: asked every time an
    // axis is not to be trusted, never taken for granted.
    if (u_.loaded.PreviewDone == 1 && !u_.settings.Simulate() && u_.loaded.LineCount > 0) {
        if (const auto question = motion::UntrustedAxesQuestion(u_.motion.unverified)) {
            if (!u_.messages.Confirm(FieldText(*question))) {
                return;
            }
        }
    }
    RunProgram();
}

void RunController::Command3_Click() {
    u_.motion.flags.StopRequested = 1;
    if (paused_ && !running_) {
        // A paused run ends here; where it can go on is remembered as after any stop.
        abandonPause();
        u_.motion.flags.StopRequested = 0;
        u_.journal.Clear();
        u_.messages.Show(QStringLiteral("Run Stopped"));
    }
}

void RunController::Pause_Click() {
    if (running_ && stepper_.Mode() != motion::RunMode::Preview) {
        u_.motion.flags.PauseRequested = 1;
    }
}

void RunController::RunProgram(WaitWindow* previewNotice, motion::EarlyPreview* early) {
    running_ = true;
    startRun(motion::ChooseRunMode(u_.settings.Simulate(), u_.loaded.PreviewDone == 1));
    if (stepper_.Mode() == motion::RunMode::Preview) {
        previewRows(previewNotice, early);
        showProgramPath(early);
        endRun(false);
    } else {
        if (stepper_.Mode() == motion::RunMode::Live && stepper_.RowCount() > 0) {
            beginJournal(0, {u_.motion.machine[motion::Axis::X].positionText,
                             u_.motion.machine[motion::Axis::Y].positionText,
                             u_.motion.machine[motion::Axis::Z].positionText});
        }
        runRows();
    }
    running_ = false;
}

void RunController::startRun(motion::RunMode mode, bool fromStart) {
    const MainControls& c = u_.controls;
    const gcode::Program* program = u_.loaded.LineCount > 0 ? u_.loaded.program.get() : nullptr;
    abandonPause();
    u_.disableControls();
    stepper_.Begin(program, mode, u_.motion.machine, u_.motion.pen, c.Check3->isChecked());
    u_.motion.flags = {};
    viewRunStart(program, mode, fromStart);
    // Every mark of an earlier run goes, not only the last row's: a red row ahead of the line
    // being cut would point at the wrong place.
    c.Grid1Model->ClearFirstCellColours();
    highlighted_ = -1;
    anyRow_ = false;
    packet_.reset();
    shownAtMs_ = progressAtMs_ = scrolledAtMs_ = simulatedDueMs_ = Never;
    startedAtMs_ = u_.device.Clock().NowMs();
    remaining_ = {};
    notesRow_ = static_cast<std::size_t>(-1);
    notesMet_ = 0;
    lastAcked_.reset();
    resumeRow_.reset();
    const auto shown = motion::ShownThousandths(u_.motion.machine);
    highestZ_ = shown ? (*shown)[2] : 0;
    if (mode == motion::RunMode::Live && program != nullptr) {
        remainingFrom_ = u_.motion.machine;
        remainingSpeeds_ = u_.settings.Speeds();
        remainingSpeeds_.feedPercent = 100; // the estimate scales by the override as it goes
        remaining_ = motion::RemainingSeconds(*program, remainingFrom_,
                                              motion::PreparedPlanSettings(u_.settings.Plan()),
                                              remainingSpeeds_);
    }
    const bool progress = mode != motion::RunMode::Preview && stepper_.RowCount() > 0;
    c.RunProgress->setVisible(progress);
    c.RunProgressText->setVisible(progress);
}

// The rows of a live or simulated run, from where the stepper stands, until the end, a pause or
// a stop.
void RunController::runRows() {
    u_.controls.Pause->setEnabled(true);
    const Outcome outcome = rowsUntilHeld();
    u_.controls.Pause->setEnabled(false);
    if (outcome == Outcome::Paused) {
        pauseRun();
        return;
    }
    endRun(outcome == Outcome::Finished && stepper_.RowCount() > 0);
}

RunController::Outcome RunController::rowsUntilHeld() {
    while (stepper_.HasNext()) {
        if (!stepper_.Approaching()) {
            switch (meetNotes()) {
            case NoteStep::Pause:
                return Outcome::Paused;
            case NoteStep::End:
                return Outcome::Ended;
            case NoteStep::Go:
                break;
            }
        }
        if (!runLine()) {
            return Outcome::Ended;
        }
        // Check point: Pause takes effect once the line is done, as STOP does; after the last
        // line there is nothing left to hold.
        if (u_.motion.flags.PauseRequested == 1 && stepper_.HasNext()) {
            return Outcome::Paused;
        }
    }
    // A limit during the last line: the board may not have finished it.
    return u_.motion.flags.LimitStop == 1 ? Outcome::Ended : Outcome::Finished;
}

// The stops and dwells the file asks for before the next row, each met once.
RunController::NoteStep RunController::meetNotes() {
    const std::size_t row = stepper_.NextRow();
    if (notesRow_ != row) {
        notesRow_ = row;
        notesMet_ = 0;
    }
    const std::span<const gcode::RowNote> notes = motion::NotesBefore(*stepper_.Program(), row);
    while (notesMet_ < notes.size()) {
        const gcode::RowNote& note = notes[notesMet_];
        switch (motion::ActionOf(note, u_.settings.OptionalStops())) {
        case motion::NoteAction::Pause:
            ++notesMet_; // Run goes on after it
            showRun(true);
            u_.messages.Show(FieldText(motion::StopNoteText(note)));
            return NoteStep::Pause;
        case motion::NoteAction::Dwell:
            if (const NoteStep step = dwell(note.seconds); step != NoteStep::Go) {
                return step; // a dwell cut short is dwelt again in full when the run goes on
            }
            break;
        case motion::NoteAction::None:
            break;
        }
        ++notesMet_;
    }
    return NoteStep::Go;
}

// Waits out a dwell with the window alive; STOP, Pause and a limit act at once.
RunController::NoteStep RunController::dwell(double seconds) {
    device::Timeline& clock = u_.device.Clock();
    device::clsWaitableTimer* timer = u_.device.DelayTimer();
    const std::int64_t until =
        clock.NowMs() + static_cast<std::int64_t>(std::llround(seconds * 1000));
    showRun(true);
    u_.controls.RunProgressText->setText(QStringLiteral("Dwell of %1 before line %2")
                                             .arg(FieldText(motion::DurationText(seconds)))
                                             .arg(stepper_.NextRow() + 1));
    for (std::int64_t now = clock.NowMs(); timer != nullptr && now < until; now = clock.NowMs()) {
        const motion::RunFlags& flags = u_.motion.flags;
        if (flags.LimitStop == 1) {
            return NoteStep::End;
        }
        if (flags.StopRequested == 1) {
            u_.messages.Show(QStringLiteral("Run Stopped"));
            return NoteStep::End;
        }
        if (flags.PauseRequested == 1) {
            return NoteStep::Pause;
        }
        timer->Wait(static_cast<int>(std::min<std::int64_t>(until - now, DwellSliceMs)));
    }
    return NoteStep::Go;
}

void RunController::pauseRun() {
    u_.motion.flags.PauseRequested = 0;
    u_.journal.Flush();
    paused_ = true;
    if (stepper_.Approaching()) {
        pausedAt_ = approachTo_; // its end is still where the run goes on
        pausedBits_ = approachBits_;
    } else if (const auto shown = motion::ShownThousandths(u_.motion.machine)) {
        pausedAt_ = *shown;
        pausedBits_ = motion::DirectionBits(u_.motion.machine);
    }
    showRun(true);
    showProgress(true);
    u_.controls.RunProgressText->setText(
        QStringLiteral("Paused before line %1 of %2: Run goes on, STOP ends the run")
            .arg(stepper_.NextRow() + 1)
            .arg(stepper_.RowCount()));
    u_.enableControls();
}

// Run after a pause: back to where the run paused if the machine was moved meanwhile (a jog,
// a GOTO, a tool change), then on with the next line.
void RunController::continueRun() {
    if (!trustedForResume()) {
        return;
    }
    const auto now = motion::ShownThousandths(u_.motion.machine);
    if (!now) {
        return;
    }
    std::vector<motion::ApproachLeg> legs =
        motion::ApproachLegs(*now, pausedAt_, highestZ_, u_.settings.ClearanceThousandths());
    if (!legs.empty()) {
        const QString question =
            QStringLiteral("The machine is not where the run paused. Before line %1 it goes "
                           "back:\n%2\n\nGo on?")
                .arg(stepper_.NextRow() + 1)
                .arg(FieldText(motion::ApproachText(
                    (*now)[2], legs,
                    motion::ApproachFeedText(*stepper_.Program(), stepper_.NextRow(),
                                             u_.settings.Speeds()))));
        drawApproach(*now, legs);
        const bool agreed = u_.messages.Confirm(question);
        u_.controls.Picture1->ShowApproach({});
        if (!agreed) {
            return;
        }
    }
    paused_ = false;
    running_ = true;
    u_.disableControls();
    u_.motion.flags = {};
    simulatedDueMs_ = Never;
    approachTo_ = pausedAt_;
    approachBits_ = pausedBits_;
    stepper_.Approach(std::move(legs), pausedBits_);
    runRows();
    running_ = false;
}

// A paused run that will not go on: ended where it stands, its place kept as a resume point.
void RunController::abandonPause() {
    if (!paused_) {
        return;
    }
    paused_ = false;
    endRun(false);
}

// A resume starts from where the displays say the machine is: every axis must be known.
bool RunController::trustedForResume() {
    if (u_.settings.Simulate()) {
        return true;
    }
    QString why;
    for (const motion::Axis a : motion::kAxes) {
        if (const std::string& reason = u_.motion.unverified[motion::index(a)]; !reason.empty()) {
            why += QStringLiteral("%1: %2\n").arg(QChar(motion::letter(a))).arg(FieldText(reason));
        }
    }
    if (why.isEmpty()) {
        return true;
    }
    u_.messages.Show(
        why + QStringLiteral("\nWhere these axes stand is not known, so the run cannot go on from "
                             "here. Move each to the program's origin, zero it, then choose Run "
                             "from here on the line to go on from."));
    return false;
}

// The approach as it will be made, before the operator confirms it: from where the tool stands,
// leg by leg.
void RunController::drawApproach(const std::array<std::int64_t, 3>& from,
                                 const std::vector<motion::ApproachLeg>& legs) {
    std::vector<std::array<double, 3>> points;
    std::array<std::int64_t, 3> at = from;
    for (const motion::ApproachLeg& leg : legs) {
        for (std::size_t i = 0; i < 3; ++i) {
            at[i] = leg.target[i].value_or(at[i]);
        }
        points.push_back({at[0] / 1000.0, at[1] / 1000.0, at[2] / 1000.0});
    }
    u_.controls.Picture1->ShowApproach(std::move(points));
}

// The view of a run: a preview shows the newly loaded program from its first view; a run draws
// over it from where the machine stands, which after a jog or a stop is not where it was loaded.
void RunController::viewRunStart(const gcode::Program* program, motion::RunMode mode,
                                 bool fromStart) {
    gcode::ToolpathView* view = u_.controls.Picture1;
    view->MarkStoppedAfter(std::nullopt);
    view->ShowApproach({});
    const auto shown = motion::ShownThousandths(u_.motion.machine);
    std::array<double, 3> start{};
    for (std::size_t i = 0; i < 3 && shown; ++i) {
        start[i] = static_cast<double>((*shown)[i]) / 1000.0;
    }
    if (mode == motion::RunMode::Preview) {
        return; // the program is shown once its preview is made (showProgramPath)
    }
    // A run from a later line plans the lines before it from the program's origin, as loaded;
    // the approach is drawn from the tool to that line.
    const gcode::Toolpath* drawn = view->Path();
    if (!fromStart && drawn) {
        view->ShowCut(0, std::nullopt);
        return;
    }
    const std::array<double, 3> drawnFrom = drawn ? drawn->Start() : std::array<double, 3>{};
    if (program && (drawn == nullptr || drawn->RowCount() != program->LineCount() ||
                    drawnFrom != gcode::Toolpath::Rounded(start))) {
        view->ReplacePath(std::make_shared<const gcode::Toolpath>(
            gcode::BuildToolpath(*program, start, u_.settings.ArcToleranceMm())));
    }
    view->ShowCut(0, std::nullopt);
}

// A newly loaded program in the view: the path built beside the preview while it was planned,
// or built here from the load position.
void RunController::showProgramPath(motion::EarlyPreview* early) {
    const gcode::Program* program = stepper_.Program();
    std::shared_ptr<const gcode::Toolpath> path;
    if (early && program) {
        if (auto built = early->TakePath(*program)) {
            path = std::make_shared<const gcode::Toolpath>(std::move(*built));
        }
    }
    if (!path && program) {
        path = std::make_shared<const gcode::Toolpath>(
            gcode::BuildToolpath(*program, {0, 0, 0}, u_.settings.ArcToleranceMm()));
    }
    u_.controls.Picture1->ShowProgram(std::move(path), u_.motion.pen.PlotScale);
}

void RunController::RunFromHere(int row) {
    const gcode::Program* program = u_.loaded.program.get();
    if (u_.guard.Busy() || running_ || program == nullptr || u_.loaded.PreviewDone != 1 ||
        row < 0 || row >= u_.loaded.LineCount) {
        return;
    }
    const MotionGuard::Hold hold(u_.guard);
    abandonPause();
    if (!trustedForResume()) {
        return;
    }
    const motion::PreparedPlanSettings settings(u_.settings.Plan());
    const motion::RunSpeeds speeds = u_.settings.Speeds();
    // Where the rows before leave the machine when the program runs from its origin.
    const motion::RowStart start = motion::PlanToRow(*program, static_cast<std::size_t>(row),
                                                     motion::MachineState{}, settings, speeds);
    const auto target = motion::ShownThousandths(start.machine);
    const auto now = motion::ShownThousandths(u_.motion.machine);
    if (start.error || !target || !now) {
        u_.messages.Show(start.error ? FieldText(start.error->message)
                                     : QStringLiteral("A position display is not a number."));
        return;
    }
    const std::vector<motion::ApproachLeg> legs =
        motion::ApproachLegs(*now, *target, start.highestZ, u_.settings.ClearanceThousandths());
    const std::optional<std::size_t> earlier = resumeRow_;
    running_ = true;
    startRun(motion::ChooseRunMode(u_.settings.Simulate(), true), false);
    stepper_.StartAt(static_cast<std::size_t>(row));
    drawApproach(*now, legs);
    const bool agreed = u_.messages.Confirm(
        FromHereQuestion(*program, static_cast<std::size_t>(row), (*now)[2], legs, speeds));
    u_.controls.Picture1->ShowApproach({});
    if (!agreed) {
        endRun(false);
        running_ = false;
        if (earlier) {
            ShowResumePoint(*earlier); // still where a stopped run goes on
        }
        return;
    }
    highestZ_ = std::max(highestZ_, start.highestZ);
    notesRow_ = static_cast<std::size_t>(row); // the stops before it were the operator's to make
    notesMet_ = motion::NotesBefore(*program, notesRow_).size();
    approachTo_ = *target;
    approachBits_ = motion::DirectionBits(start.machine);
    if (stepper_.Mode() == motion::RunMode::Live) {
        beginJournal(static_cast<std::size_t>(row), {start.machine[motion::Axis::X].positionText,
                                                     start.machine[motion::Axis::Y].positionText,
                                                     start.machine[motion::Axis::Z].positionText});
    }
    stepper_.Approach(legs, approachBits_);
    runRows();
    running_ = false;
}

std::int64_t RunController::SafeZ() const {
    return highestZ_ + u_.settings.ClearanceThousandths();
}

void RunController::noteHeight(const motion::ProgramRowMove& move) {
    for (const auto& vertex : move.via) {
        highestZ_ = std::max(highestZ_, vertex[2]);
    }
    std::int64_t z = 0;
    if (encoding::ThousandthsOfShownPosition(u_.motion.machine[motion::Axis::Z].positionText, z)) {
        highestZ_ = std::max(highestZ_, z);
    }
}

// One line of a live or simulated run; false ends the run.
bool RunController::runLine() {
    // Check point: a limit or emergency stop reported during the last line's wait ends the
    // run here, before this line is planned, drawn or sent: the displays stay at the end of
    // the line the board was sent last.
    if (u_.motion.flags.LimitStop == 1) {
        return false;
    }
    const motion::ProgramRowMove& move =
        stepper_.PlanNext(motion::PreparedPlanSettings(u_.settings.Plan()), u_.settings.Speeds());
    anyRow_ = true;
    if (refused(move)) {
        return false;
    }
    noteHeight(move);
    u_.device.Status().SetText9("OA");
    const bool simulate = stepper_.Mode() == motion::RunMode::Simulate;
    const bool journalled = !simulate && !move.approach;
    if (journalled) {
        u_.journal.Sent(stepper_.Row());
    }
    const MoveGateway::Sent sent = u_.device.Gateway()->Send(
        move.planned.report, simulate, simulate ? simulatedWaitMs() : 0,
        move.approach ? std::string("the approach")
                      : std::string("line ").append(std::to_string(stepper_.Row() + 1)),
        [this](const encoding::MotionReport& report) {
            packet_ = report;
            lineChanged();
        });
    if (sent != MoveGateway::Sent::Done) {
        return false;
    }
    // A limit or emergency stop during the line means the board may not have finished it: the
    // run goes on from that line, not after it.
    if (!move.approach && u_.motion.flags.LimitStop == 0) {
        lastAcked_ = stepper_.Row();
        if (journalled) {
            u_.journal.Acknowledged(stepper_.Row(),
                                    stepper_.Program()->fileLines.FileLine(stepper_.Row()),
                                    u_.motion.machine);
        }
    }
    // Check point: STOP takes effect once the line is done.
    if (u_.motion.flags.StopRequested == 1) {
        showRun(true);
        u_.journal.Clear(); // the operator stopped it and knows where: nothing to resume
        u_.messages.Show(QStringLiteral("Run Stopped"));
        return false;
    }
    return true;
}

// A simulated run keeps to one line per Text16 milliseconds: what the window does between the
// waits (and the timer's own lateness) comes off the next wait, so 500 lines at 20 ms take
// 10 s. A run that fell behind by more than a line (a message was open) starts afresh.
int RunController::simulatedWaitMs() {
    const int delayMs = u_.settings.SimulatorDelayMs();
    const std::int64_t nowMs = u_.device.Clock().NowMs();
    if (simulatedDueMs_ == Never || nowMs - simulatedDueMs_ > std::max(delayMs, 0)) {
        simulatedDueMs_ = nowMs;
    }
    simulatedDueMs_ += std::max(delayMs, 0);
    return delayMs <= 0 ? delayMs
                        : static_cast<int>(std::max<std::int64_t>(simulatedDueMs_ - nowMs, 0));
}

void RunController::previewRows(WaitWindow* notice, motion::EarlyPreview* early) {
    const bool progress = notice && notice->isVisible() && notice->ProgressShown();
    motion::PreparedPlanSettings settings(u_.settings.Plan());
    motion::RunSpeeds speeds = u_.settings.Speeds();
    check_.Start(settings);
    std::optional<PreviewAhead> ahead;
    const bool planned = early && takeEarlyPreview(*early, settings, speeds, ahead);
    // A long program's second half is planned on another thread meanwhile.
    if (const std::size_t from = motion::PlanAhead::SplitRow(stepper_.RowCount());
        !planned && stepper_.NextRow() == 0 && from < stepper_.RowCount()) {
        ahead.emplace(*stepper_.Program(), from, u_.motion.machine, settings, speeds);
    }
    while (!planned && stepper_.HasNext()) {
        const std::size_t row = stepper_.NextRow();
        if (row > 0 && row % PreviewRowsPerStep == 0) {
            if (progress) {
                notice->SetProgress(
                    PreviewProgressStart +
                    static_cast<int>((1000 - PreviewProgressStart) * row / stepper_.RowCount()));
            }
            if (device::clsWaitableTimer* delay = u_.device.DelayTimer()) {
                delay->Wait(0);
            }
            // The settings are read afresh at every line; they can only have changed while
            // the events ran.
            settings = motion::PreparedPlanSettings(u_.settings.Plan());
            speeds = u_.settings.Speeds();
        }
        if (ahead && row == ahead->from) {
            if (takePreviewAhead(*ahead, settings, speeds)) {
                break;
            }
            ahead.reset();
        }
        // Check points, as in a run: the preview lets events in only between its pieces.
        if (u_.motion.flags.LimitStop == 1) {
            return;
        }
        const motion::ProgramRowMove& move = stepper_.PlanNext(settings, speeds);
        anyRow_ = true;
        check_.Row(stepper_.Row(), move);
        if (refused(move)) {
            return;
        }
        if (u_.motion.flags.StopRequested == 1) {
            showRun(true);
            u_.messages.Show(QStringLiteral("Run Stopped"));
            return;
        }
    }
    if (progress && !stepper_.Current().planned.error) {
        notice->SetProgress(1000);
    }
}

RunController::PreviewAhead::PreviewAhead(const gcode::Program& program, std::size_t fromRow,
                                          const motion::MachineState& start,
                                          const motion::PreparedPlanSettings& settings,
                                          const motion::RunSpeeds& speeds)
    : from(fromRow), part(settings) {
    plan.emplace(program, from, motion::RunMode::Preview, start, settings, speeds,
                 [this](const motion::RunStepper& run) { part.Row(run.Row(), run); });
}

// The second thread's rows, drawn, counted and shown as if planned here; false when its guess
// of where the machine would be did not hold, or the settings changed meanwhile.
bool RunController::takePreviewAhead(PreviewAhead& ahead,
                                     const motion::PreparedPlanSettings& settings,
                                     const motion::RunSpeeds& speeds) {
    if (!ahead.plan->Finish(u_.motion.machine, settings.fields, speeds)) {
        return false;
    }
    // No events run from here to the end of the preview, so nothing it planned with can
    // change under it.
    check_.Add(ahead.part.check);
    stepper_.Adopt(ahead.plan->Run());
    anyRow_ = true;
    refused(stepper_.Current());
    return true;
}

// The preview planned while the file was read, when it still holds: its rows counted and its
// last row shown. The rows its thread has not got to by now are shared with a second thread,
// as the reading's processor is free. True when it made the whole preview; else the rows from
// the stepper's next row on are still to be planned.
bool RunController::takeEarlyPreview(motion::EarlyPreview& early,
                                     const motion::PreparedPlanSettings& settings,
                                     const motion::RunSpeeds& speeds,
                                     std::optional<PreviewAhead>& ahead) {
    const gcode::Program* program = stepper_.Program();
    if (program == nullptr || !early.Plans(*program, settings.fields, speeds, u_.motion.machine)) {
        return false;
    }
    // No events run from here to the end of the preview, so nothing it planned with can
    // change under it.
    motion::SlicePlanner& planner = early.Planner();
    planner.NoMoreSlices();
    if (const std::size_t from = planner.ShareRest(program->LineCount());
        from < program->LineCount()) {
        ahead.emplace(*program, from, u_.motion.machine, settings, speeds);
    }
    planner.Finish();
    if (planner.Failed()) {
        ahead.reset();
        restartPreview(settings); // memory ran out on its thread: the preview is made here
        return false;
    }
    check_.Add(early.check);
    stepper_.Adopt(planner.Run(), planner.SliceFirst());
    anyRow_ = true;
    if (refused(stepper_.Current()) || !ahead || takePreviewAhead(*ahead, settings, speeds)) {
        return true;
    }
    ahead.reset(); // its guess of where the machine would be did not hold
    return false;
}

void RunController::restartPreview(const motion::PreparedPlanSettings& settings) {
    const MainControls& c = u_.controls;
    stepper_.Begin(stepper_.Program(), motion::RunMode::Preview, u_.motion.machine, u_.motion.pen,
                   c.Check3->isChecked());
    check_.Start(settings);
}

// A row that cannot be planned ends the run with its message, the highlight on that row.
bool RunController::refused(const motion::ProgramRowMove& move) {
    if (!move.planned.error) {
        return false;
    }
    showRun(true);
    u_.messages.Show(FieldText(move.planned.error->message));
    return true;
}

void RunController::endRun(bool finished) {
    stepper_.End();
    if (anyRow_) {
        // Each row of the preview wrote "OA" before its check point; once is enough.
        if (stepper_.Mode() == motion::RunMode::Preview && !stepper_.Current().planned.error) {
            u_.device.Status().SetText9("OA");
        }
        showRun(true);
    } else {
        ShowPositions(u_.controls, u_.motion);
    }
    if (showTimer_ != 0) {
        u_.device.Clock().Cancel(showTimer_);
        showTimer_ = 0;
    }
    if (stepper_.Mode() == motion::RunMode::Preview) {
        // The check is shown without a message: it stays beside the table for the operator.
        // Its warnings come first, where they are seen without scrolling; then what the load
        // did with the file.
        const gcode::Program* program = u_.loaded.program.get();
        if (program) {
            check_.Dwells(*program);
        }
        QString text =
            anyRow_ ? FieldText(check_.Text(program ? &program->fileLines : nullptr)) : QString();
        if (program) {
            for (const std::string& line :
                 gcode::DescribeLoad(*program, u_.settings.ArcToleranceMm())) {
                text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + FieldText(line);
            }
        }
        u_.controls.CheckText->setText(text);
    }
    u_.controls.RunProgress->hide();
    // A run that sent its last line says so where its progress was, without a message to
    // answer; a stopped one has said why already, and says where it can go on.
    if (stepper_.Mode() == motion::RunMode::Live) {
        if (finished) {
            u_.journal.Clear();
        } else {
            u_.journal.Flush();
        }
    }
    if (stepper_.Mode() != motion::RunMode::Preview) {
        u_.controls.Picture1->ShowCut(
            finished ? stepper_.RowCount() : (lastAcked_ ? *lastAcked_ + 1 : 0), std::nullopt);
    }
    if (finished) {
        u_.controls.RunProgressText->setText(FieldText(motion::RunFinishedText(
            stepper_.RowCount(), u_.device.Clock().NowMs() - startedAtMs_)));
    } else if (stepper_.Mode() != motion::RunMode::Preview) {
        markResumePoint();
    } else {
        u_.controls.RunProgressText->hide();
    }
    u_.enableControls();
}

// After a run that ended early: the last row the board acknowledged is marked, and the row
// after it is selected for "Run from here".
void RunController::markResumePoint() {
    const MainControls& c = u_.controls;
    if (!lastAcked_ || *lastAcked_ + 1 >= stepper_.RowCount()) {
        c.RunProgressText->hide();
        return;
    }
    const int acked = static_cast<int>(*lastAcked_);
    c.Grid1Model->SetFirstCellColour(acked, RowAcknowledged);
    c.Picture1->MarkStoppedAfter(*lastAcked_);
    if (highlighted_ == acked) {
        highlighted_ = -1; // the mark replaced the red
    }
    ShowResumePoint(*lastAcked_ + 1);
}

void RunController::ShowResumePoint(std::size_t row) {
    const MainControls& c = u_.controls;
    resumeRow_ = row;
    const int next = static_cast<int>(row);
    c.Grid1->selectRow(next);
    c.Grid1->scrollTo(c.Grid1Model->index(next, 0), QAbstractItemView::PositionAtCenter);
    c.RunProgressText->setText(
        QStringLiteral("Stopped after line %1: Run from here (Ctrl+Shift+R) goes on with line %2")
            .arg(next)
            .arg(next + 1));
    c.RunProgressText->show();
}

// A live run's journal from its first row on, the displays where that row starts.
void RunController::beginJournal(std::size_t fromRow, const std::array<std::string, 3>& at) {
    const gcode::Program* program = stepper_.Program();
    const motion::PlanSettings plan = u_.settings.Plan();
    motion::RunJournal journal;
    journal.gcodePath = u_.loaded.GcodeFile.toStdString();
    journal.fileBytes = u_.loaded.fileBytes;
    journal.contentHash = u_.loaded.contentHash;
    journal.pulsesPerMmText = plan.pulsesPerMmText;
    journal.inverse = plan.inverse;
    journal.arcToleranceMm = plan.arcToleranceMm;
    journal.rows = stepper_.RowCount();
    if (fromRow > 0) {
        journal.lastAckedRow = fromRow - 1;
        journal.lastAckedLine = program->fileLines.FileLine(fromRow - 1);
    }
    journal.positions = at;
    u_.journal.Begin(journal);
}

void RunController::lineChanged() {
    device::Timeline& clock = u_.device.Clock();
    if (clock.NowMs() - shownAtMs_ >= ShowEveryMs) {
        showRun();
    } else if (showTimer_ == 0) {
        showTimer_ = clock.CallAt(shownAtMs_ + ShowEveryMs, [this] {
            showTimer_ = 0;
            showRun();
        });
    }
}

// What the run has got to, on screen: line number, highlight, the row at the top of the
// table, displays, echoes, the plot and the packet. `whole`: the run stops here, so the table
// scrolls to this row whenever it scrolled last.
void RunController::showRun(bool whole) {
    const MainControls& c = u_.controls;
    shownAtMs_ = u_.device.Clock().NowMs();
    const int row = static_cast<int>(stepper_.Row());
    if (stepper_.Mode() != motion::RunMode::Preview) {
        c.LineProcessed->setText(QString::number(row + 1));
        if (highlighted_ != row) {
            c.Grid1Model->SetFirstCellColour(highlighted_, gcode::RowWhite);
            c.Grid1Model->SetFirstCellColour(row, gcode::RowRed);
            highlighted_ = row;
        }
    }
    if (whole || shownAtMs_ - scrolledAtMs_ >= ScrollEveryMs) {
        c.Grid1->scrollTo(c.Grid1Model->index(row, 0), QAbstractItemView::PositionAtTop);
        scrolledAtMs_ = shownAtMs_;
    }
    ShowPositions(c, u_.motion);
    ShowMoveEchoes(c, stepper_.Current().planned);
    ShowDirectionEchoes(c, stepper_.DirectionEchoes());
    if (packet_) {
        ShowPacket(c, *packet_);
        packet_.reset();
    } else if (stepper_.Mode() == motion::RunMode::Preview) {
        // The preview sends nothing, but builds every report: the last one built is shown.
        if (const motion::ProgramRowMove* last = stepper_.LastPlanned()) {
            if (const auto report = last->planned.report.Report(0)) {
                ShowPacket(c, *report);
            }
        }
    }
    if (stepper_.Mode() != motion::RunMode::Preview) {
        c.Picture1->ShowCut(stepper_.NextRow() > 0 ? stepper_.Row() : 0, stepper_.Row());
    }
    showProgress(false);
}

void RunController::showProgress(bool now) {
    const motion::RunMode mode = stepper_.Mode();
    const std::int64_t nowMs = u_.device.Clock().NowMs();
    if (mode == motion::RunMode::Preview || (!now && nowMs - progressAtMs_ < ProgressEveryMs)) {
        return;
    }
    progressAtMs_ = nowMs;
    const std::size_t row = stepper_.Row();
    const std::size_t rows = stepper_.RowCount();
    if (mode == motion::RunMode::Live) {
        // Override Gcode or its speeds changed since the estimate was made: made again, once
        // (the feed override needs nothing of the kind: it scales the feed moves' share).
        motion::RunSpeeds speeds = u_.settings.Speeds();
        speeds.feedPercent = 100;
        if (!motion::SameSpeeds(speeds, remainingSpeeds_) && stepper_.Program() != nullptr) {
            remainingSpeeds_ = speeds;
            remaining_ = motion::RemainingSeconds(*stepper_.Program(), remainingFrom_,
                                                  motion::PreparedPlanSettings(u_.settings.Plan()),
                                                  remainingSpeeds_);
        }
    }
    const double leftSeconds = mode == motion::RunMode::Live
                                   ? remaining_.SecondsFrom(row, u_.controls.FeedOverride->value())
                                   : static_cast<double>(rows - row) *
                                         std::max(0, u_.settings.SimulatorDelayMs()) / 1000.0;
    const MainControls& c = u_.controls;
    c.RunProgress->setRange(0, static_cast<int>(rows));
    c.RunProgress->setValue(static_cast<int>(row + 1));
    c.RunProgressText->setText(QStringLiteral("line %1 of %2, about %3 left")
                                   .arg(row + 1)
                                   .arg(rows)
                                   .arg(FieldText(motion::DurationText(leftSeconds))));
}

} // namespace app

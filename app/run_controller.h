// The Run, Pause and STOP buttons: the loaded program run line by line on the board, simulated
// with a fixed delay per line, or drawn as the preview after a load. STOP and the board's limit
// and emergency-stop reports end a run early, and remember where it can go on; Pause and the
// stops in the file hold it until Run is pressed again. "Run from here" starts a run at any row,
// after an approach that keeps the cutter above the work.
#pragma once

#include "app/loaded_program.h"
#include "app/main_controls.h"
#include "app/motion_state.h"
#include "app/settings_fields.h"
#include "device/timeline.h"
#include "encoding/motion_report.h"
#include "gcode/plot_geometry.h"
#include "motion/plan_ahead.h"
#include "motion/preview_plan.h"
#include "motion/program_check.h"
#include "motion/run_control.h"
#include "motion/run_stepper.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace app {

class DeviceLink;
class JournalKeeper;
class OperatorMessages;
class WaitWindow;

class RunController {
public:
    struct Uses : MotionUses {
        LoadedProgram& loaded; // the run notes the operator's agreement to skipped moves
        std::function<void()> disableControls;
        std::function<void()> enableControls;
        JournalKeeper& journal; // a live run's resume point on disk
    };

    explicit RunController(Uses uses);
    ~RunController();

    void Run2_Click();
    // STOP: takes effect when the running line is done; a press while nothing runs is cleared
    // by the next run's start.
    void Command3_Click();

    // The run itself, in the mode Simulate and the loaded program's preview state choose. The
    // loader calls it for its preview pass, with the notice whose bar follows the preview, and
    // the preview planned while the file was read, if any.
    void RunProgram(WaitWindow* previewNotice = nullptr, motion::EarlyPreview* early = nullptr);
    bool Running() const { return running_; }

    // Pause: the run stops once the line in progress is done, keeping its place; Run goes on.
    void Pause_Click();
    bool Paused() const { return paused_; }
    // Ends a paused run where it stands, as STOP would, without a message.
    void EndPause() { abandonPause(); }
    // Runs the program from `row` on (0-based), after the approach from where the machine
    // stands to where the rows before would have left it, which the operator confirms first.
    void RunFromHere(int row);
    // Marks `row` as where a run goes on, as after a run that stopped early.
    void ShowResumePoint(std::size_t row);
    // The row a run that stopped early can go on from, or -1.
    int ResumeRow() const { return resumeRow_ ? static_cast<int>(*resumeRow_) : -1; }
    // Where Lift Z takes Z, in thousandths: the clearance above the highest Z the last run
    // reached (or Z where the last run started).
    std::int64_t SafeZ() const;

private:
    // A long program's preview: the rows from `from` on, planned on a second thread while
    // this one plans and draws the rows before, kept for drawing when this one gets there.
    struct PreviewAhead {
        PreviewAhead(const gcode::Program& program, std::size_t from,
                     const motion::MachineState& start,
                     const motion::PreparedPlanSettings& settings, const motion::RunSpeeds& speeds);
        std::size_t from;
        motion::PreviewPart part;
        std::optional<motion::PlanAhead> plan; // last: it stops before the rest goes
    };

    // How a run's rows went: to the end, held by a pause, or ended early.
    enum class Outcome { Finished, Paused, Ended };
    enum class NoteStep { Go, Pause, End };

    void startRun(motion::RunMode mode, bool fromStart = true);
    void runRows();
    Outcome rowsUntilHeld();
    NoteStep meetNotes();
    NoteStep dwell(double seconds);
    void pauseRun();
    void continueRun();
    void abandonPause();
    bool trustedForResume();
    void drawApproach(const std::array<std::int64_t, 3>& from,
                      const std::vector<motion::ApproachLeg>& legs);
    void viewRunStart(const gcode::Program* program, motion::RunMode mode, bool fromStart);
    void showProgramPath(motion::EarlyPreview* early);
    void noteHeight(const motion::ProgramRowMove& move);
    void markResumePoint();
    void beginJournal(std::size_t fromRow, const std::array<std::string, 3>& at);
    bool runLine();
    void previewRows(WaitWindow* notice, motion::EarlyPreview* early);
    bool takePreviewAhead(PreviewAhead& ahead, const motion::PreparedPlanSettings& settings,
                          const motion::RunSpeeds& speeds);
    bool takeEarlyPreview(motion::EarlyPreview& early, const motion::PreparedPlanSettings& settings,
                          const motion::RunSpeeds& speeds, std::optional<PreviewAhead>& ahead);
    void restartPreview(const motion::PreparedPlanSettings& settings);
    void endRun(bool finished);
    bool refused(const motion::ProgramRowMove& move);
    int simulatedWaitMs();
    void lineChanged();
    void showRun(bool whole = false);
    void showProgress(bool now);

    Uses u_;
    motion::RunStepper stepper_;
    bool running_ = false;
    bool anyRow_ = false;                          // a row of this run has been planned
    std::optional<encoding::MotionReport> packet_; // sent, not yet echoed
    int highlighted_ = -1;                         // the row whose first cell is red
    std::int64_t shownAtMs_ = 0;
    std::int64_t progressAtMs_ = 0;
    std::int64_t scrolledAtMs_ = 0;
    std::int64_t simulatedDueMs_ = 0; // when the simulated line now waiting is due to end
    std::int64_t startedAtMs_ = 0;    // when this run started
    device::Timeline::TimerId showTimer_ = 0;
    motion::RemainingTime remaining_;    // of a live run, by row
    motion::MachineState remainingFrom_; // where the estimate starts
    motion::RunSpeeds remainingSpeeds_;  // what it was made with
    // A paused run: the stepper keeps its place and the machine stood at pausedAt_ (shown
    // positions, thousandths) when it paused, or was on its way there.
    bool paused_ = false;
    std::array<std::int64_t, 3> pausedAt_{};
    std::array<bool, 3> pausedBits_{};         // the direction bits there
    std::array<std::int64_t, 3> approachTo_{}; // where the approach under way ends
    std::array<bool, 3> approachBits_{};
    // The stops and dwells before this row have been met, the first notesMet_ of them.
    std::size_t notesRow_ = static_cast<std::size_t>(-1);
    std::size_t notesMet_ = 0;
    std::int64_t highestZ_ = 0; // thousandths: the highest Z the run has been at
    std::optional<std::size_t> lastAcked_;
    std::optional<std::size_t> resumeRow_;
    motion::ProgramCheck check_; // what the preview's planning found
};

} // namespace app

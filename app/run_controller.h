// The Run and STOP buttons: the loaded program run line by line on the board, simulated with
// a fixed delay per line, or drawn as the preview after a load; STOP and the board's limit and
// emergency-stop reports end a run early.
#pragma once

#include "app/loaded_program.h"
#include "app/main_controls.h"
#include "app/motion_state.h"
#include "app/settings_fields.h"
#include "device/timeline.h"
#include "encoding/motion_report.h"
#include "gcode/plot_geometry.h"
#include "motion/plan_ahead.h"
#include "motion/program_check.h"
#include "motion/run_stepper.h"
#include "motion/slice_planner.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace app {

class DeviceLink;
class OperatorMessages;
class WaitWindow;

// Rows of a preview planned away from the window: what the check finds, and the travel the plot
// draws, in the pieces the preview draws it in.
struct PreviewPart {
    explicit PreviewPart(const motion::PreparedPlanSettings& settings) { check.Start(settings); }
    // Each row as it is planned, counted in the whole program.
    void Row(std::size_t row, const motion::RunStepper& run);

    motion::ProgramCheck check;
    std::vector<motion::PlotTravel> pieces{1}; // the piece in hand last
};

// A load's preview, planned while the file is still read: the reader's rows, a slice at a time
// on a thread of their own, from the machine a load leaves (every display at zero). When the
// preview starts, if the settings are still those it was planned with, the window draws its
// travel a piece at a time as the pieces are done.
class EarlyPreview {
public:
    EarlyPreview(const motion::PlanSettings& settings, const motion::RunSpeeds& speeds);
    // A slice of the reader's rows (ProgramLoad::SliceRows), from the reading thread.
    void Add(gcode::Program slice);
    // Waits for the next whole piece of travel and moves it into `piece`; false once the
    // planner has ended and every whole piece is taken.
    bool NextPiece(motion::PlotTravel& piece);

    const motion::PlanSettings fields;
    const motion::RunSpeeds speeds;
    std::size_t given = 0; // rows handed to the planner
    // The planner's own until it ends: what the check finds, and the piece of travel in hand
    // (then the last, partial one).
    motion::ProgramCheck check;
    motion::PlotTravel piece;

private:
    void row(std::size_t row, const motion::RunStepper& run);
    void ended();

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<motion::PlotTravel> pieces_; // whole pieces not yet taken
    bool ended_ = false;

public:
    motion::SlicePlanner planner; // last: it stops before the rest goes
};

class RunController {
public:
    struct Uses : MotionUses {
        LoadedProgram& loaded; // the run notes the operator's agreement to skipped moves
        std::function<void()> disableControls;
        std::function<void()> enableControls;
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
    void RunProgram(WaitWindow* previewNotice = nullptr, EarlyPreview* early = nullptr);
    bool Running() const { return running_; }

private:
    // A long program's preview: the rows from `from` on, planned on a second thread while
    // this one plans and draws the rows before, kept for drawing when this one gets there.
    struct PreviewAhead {
        PreviewAhead(const gcode::Program& program, std::size_t from,
                     const motion::MachineState& start,
                     const motion::PreparedPlanSettings& settings, const motion::RunSpeeds& speeds);
        std::size_t from;
        PreviewPart part;
        std::optional<motion::PlanAhead> plan; // last: it stops before the rest goes
    };

    void startRun(motion::RunMode mode);
    bool runLine();
    void previewRows(WaitWindow* notice, EarlyPreview* early);
    bool takePreviewAhead(PreviewAhead& ahead, const motion::PreparedPlanSettings& settings,
                          const motion::RunSpeeds& speeds);
    bool takeEarlyPreview(EarlyPreview& early, const motion::PreparedPlanSettings& settings,
                          const motion::RunSpeeds& speeds);
    void restartPreview(const motion::PreparedPlanSettings& settings);
    void drawPart(const PreviewPart& part);
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
    std::vector<gcode::PlotSegment> segments_;     // drawn, not yet painted
    std::optional<encoding::MotionReport> packet_; // sent, not yet echoed
    int highlighted_ = -1;                         // the row whose first cell is red
    std::int64_t shownAtMs_ = 0;
    std::int64_t progressAtMs_ = 0;
    std::int64_t scrolledAtMs_ = 0;
    std::int64_t simulatedDueMs_ = 0; // when the simulated line now waiting is due to end
    std::int64_t startedAtMs_ = 0;    // when this run started
    device::Timeline::TimerId showTimer_ = 0;
    std::vector<double> remainingSeconds_; // of a live run, by row
    motion::ProgramCheck check_;           // what the preview's planning found
};

} // namespace app

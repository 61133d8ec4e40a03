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
#include "motion/preview_plan.h"
#include "motion/program_check.h"
#include "motion/run_stepper.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace app {

class DeviceLink;
class OperatorMessages;
class WaitWindow;

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
    void RunProgram(WaitWindow* previewNotice = nullptr, motion::EarlyPreview* early = nullptr);
    bool Running() const { return running_; }

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

    void startRun(motion::RunMode mode);
    bool runLine();
    void previewRows(WaitWindow* notice, motion::EarlyPreview* early);
    bool takePreviewAhead(PreviewAhead& ahead, const motion::PreparedPlanSettings& settings,
                          const motion::RunSpeeds& speeds);
    bool takeEarlyPreview(motion::EarlyPreview& early, const motion::PreparedPlanSettings& settings,
                          const motion::RunSpeeds& speeds);
    void restartPreview(const motion::PreparedPlanSettings& settings);
    void drawPart(const motion::PreviewPart& part);
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

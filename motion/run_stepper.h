// The program run without a window: begin, then one row at a time, then end.
//
// The preview pass after a load, the live and the simulated run, the dry-run tool and the
// remaining-time estimate all step through a program with this one class, so what the window
// sends, draws and shows is exactly what the dry run prints. The caller owns the machine state
// and the plot pen; the stepper works on them in place, so there is never a second copy of
// where the machine is.
#pragma once

#include "gcode/plot_geometry.h"
#include "gcode/program.h"
#include "motion/planning.h"
#include "motion/program_run.h"
#include "motion/run_control.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace motion {

// RunMode of a run, fixed when it starts, with the numbers it has always had.
enum class RunMode : int { Preview = 0, Live = 1, Simulate = 3 };

// Simulate checked: a simulated run. Otherwise live once a load's preview is done, else the
// preview itself (the loader's pass, or a Run click before any load).
RunMode ChooseRunMode(bool simulateChecked, bool previewDone);

// The flags that carry events into a running motion. Handlers that run inside a wait set
// them; the run reads them only at its check points.
struct RunFlags {
    int LimitStop = 0;      // a limit or emergency-stop report arrived; motions clear it at start
    int StopRequested = 0;  // STOP was pressed; cleared at the start of every run
    int PauseRequested = 0; // Pause was pressed; cleared when the run pauses or starts
};

class RunStepper {
public:
    // Start of a run: the shown positions are noted (modes 3 and 0 put them back at the end),
    // the pen goes to the origin with the scale of the fit rule and the pass colouring starts
    // at the Z shown now, and the direction bits are cleared. `program` may be null (nothing
    // loaded): the run then has no rows. Both references must outlive the run.
    void Begin(const gcode::Program* program, RunMode mode, MachineState& machine,
               gcode::PlotPen& pen, bool scaleToFit);

    // Goes on with a run planned up to `row` by someone else: the machine stands where that
    // left it, its direction bits as sent; nothing is reset, the pen stays where it is.
    void Resume(const gcode::Program* program, RunMode mode, MachineState& machine,
                gcode::PlotPen& pen, std::size_t row);
    // Goes on into the next slice of a program read a slice at a time (Program::Slice): its
    // rows follow the rows planned so far, and the machine, the last rows and the echoes
    // carry over. Row and NextRow count within the slice.
    void Continue(const gcode::Program* slice);

    // Goes on from `row` instead of the first row, the machine standing where the rows before
    // it left it (the caller's to see to). Before the first PlanNext.
    void StartAt(std::size_t row) { next_ = std::min(row, rows_); }

    // Before the next row, the moves of an approach (ApproachLegs): PlanNext plans them first,
    // each from where the machine then stands, the rapid ones at the travel speed and the
    // others at the next row's speed. Row() stays on the row before meanwhile. Once the legs
    // are planned the direction bits become `bits` (as sent, after inversion), those the run
    // had where it goes on: an axis a row does not move is then sent with the bit an
    // uninterrupted run would send, so every row goes out as the dry run plans it.
    void Approach(std::vector<ApproachLeg> legs, const std::array<bool, 3>& bits);
    bool Approaching() const { return nextLeg_ < legs_.size(); }

    RunMode Mode() const { return mode_; }
    const gcode::Program* Program() const { return program_; }
    std::size_t RowCount() const { return rows_; }
    bool HasNext() const { return Approaching() || next_ < rows_; }
    // The row planned last (0-based); valid after the first PlanNext.
    std::size_t Row() const { return next_ - 1; }
    std::size_t NextRow() const { return next_; }

    // Plans the next row from the machine state as it stands (speeds and settings as read for
    // this row). On success the machine advances to the row's end; on an error it stays where
    // the previous row left it, and the move says why and how far its axes got.
    const ProgramRowMove& PlanNext(const PreparedPlanSettings& settings, const RunSpeeds& speeds);
    const ProgramRowMove& Current() const { return slots_[current_]; }
    // The last row planned without an error, if any: its report is what went out last.
    const ProgramRowMove* LastPlanned() const;

    // Moves the pen by the row planned last and appends its segments to `out`: one for a
    // straight row, one per straight move of an arc; none for a rapid row of the preview,
    // which moves the pen without drawing.
    void DrawRow(std::vector<gcode::PlotSegment>& out);

    // Takes over where `ahead`, a stepper through the same program (or through a slice of it
    // whose first row is `firstRow`) that planned the rows from where this one stands to its
    // own next row, left off: its machine, its last rows and its direction echoes. Pen and
    // start are this run's.
    void Adopt(const RunStepper& ahead, std::size_t firstRow = 0);

    // Per axis the direction echo (before inversion) of the last row of this run that planned
    // the axis; an axis no row planned keeps whatever its echo showed before the run.
    const std::array<std::optional<bool>, 3>& DirectionEchoes() const { return directionEchoes_; }

    // End of a run: a preview or a simulated run leaves the machine where it started (display
    // texts formatted again, tracked positions their numbers); a live run leaves it where the
    // program took it. Direction bits stay as the last report left them.
    void End();

private:
    // Each plot input of the row planned last, in order, as DrawRow draws them.
    template <class Each> void eachPlotInput(Each&& each) const;
    void planLeg(const PreparedPlanSettings& settings, const RunSpeeds& speeds,
                 ProgramRowMove& move);

    const gcode::Program* program_ = nullptr;
    RunMode mode_ = RunMode::Preview;
    MachineState* machine_ = nullptr;
    gcode::PlotPen* pen_ = nullptr;
    std::size_t rows_ = 0;
    std::size_t next_ = 0;
    std::array<std::string, 3> startTexts_;
    std::array<bool, 3> inverse_{}; // of the row planned last, for its plot direction
    // Where an arc row started, as shown positions: its straight moves are drawn from there.
    std::array<std::int64_t, 3> pathStart_{};
    // Two results used in turn, so the last good row survives a refused one and no row builds
    // its strings anew.
    ProgramRowMove slots_[2];
    std::size_t current_ = 0;
    bool anyPlanned_ = false;
    std::array<std::optional<bool>, 3> directionEchoes_;
    std::vector<ApproachLeg> legs_;
    std::size_t nextLeg_ = 0;
    std::array<bool, 3> bitsAfterLegs_{};
};

// Board time still ahead at each row of a live run, by the dry run's estimate (per report the
// longest count x step period / 508,000 s), in two parts: the feed moves, which the feed
// override speeds up or slows down, and the rapids and dwells, which it leaves alone. Element
// r of each is the time of rows r to the end (a dwell counts with the row it comes before),
// and one more element follows the last row. Rows from a refused one on count nothing: the
// run stops there.
struct RemainingTime {
    std::vector<double> feed;  // at 100 %
    std::vector<double> fixed; // rapids and dwells
    double SecondsFrom(std::size_t row, int feedPercent) const;
};
RemainingTime RemainingSeconds(const gcode::Program& program, const MachineState& start,
                               const PreparedPlanSettings& settings, RunSpeeds speeds);

// A duration for the operator: "12.3 s", "4 min 05.0 s", "1 h 02 min 03.4 s".
std::string DurationText(double seconds);

// The question to ask before a run moves the machine while an axis is not to be trusted (a
// limit, an emergency stop or a lost board left it unknown where the axis stands): each such
// axis and why, from `whyNot` (empty for a trusted axis). None when every axis is trusted.
std::optional<std::string> UntrustedAxesQuestion(const std::array<std::string, 3>& whyNot);

// What the status frame says when a run has sent its last line: "Run finished: 27 lines in
// 1 min 12 s", to the nearest second.
std::string RunFinishedText(std::size_t lines, std::int64_t milliseconds);

} // namespace motion

// Planning a long program on two cores.
//
// Every row starts where the row before left the machine, so the rows cannot simply be shared
// out. A second thread plans the second part of the program, starting a stretch of rows before
// it from the machine as it stood at the start of the run: a row with a word for an axis puts
// its display where the word says, whatever it showed before, and a move on an axis sets its
// direction bit afresh, so by the end of the stretch the guess has usually become the truth.
// It is checked against where the first part really ends: the second thread's rows count only
// when the two states agree in every field planning reads, and then they are exactly the rows
// planning in one go makes. Otherwise the caller plans them itself.
#pragma once

#include "gcode/plot_geometry.h"
#include "gcode/program.h"
#include "motion/planning.h"
#include "motion/program_run.h"
#include "motion/run_stepper.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>

namespace motion {

// True when planning goes on from the two states alike: the same displays, tracked positions
// and direction bits (the remembered step positions are only saved work, and never decide).
bool SamePlanningState(const MachineState& a, const MachineState& b);

class PlanAhead {
public:
    // Called on the second thread after each row from `from` on, in order, with the stepper
    // that planned it (its Row and Current). A refused row is the last one.
    using RowSink = std::function<void(const RunStepper& run)>;

    // Rows a program needs before a second thread is worth starting.
    static constexpr std::size_t WorthFrom = 100000;
    // Rows the second thread plans before its own to find its machine state.
    static constexpr std::size_t LeadRows = 8192;

    // The row where the second thread's part starts, so that both threads plan about as many
    // rows; the row count itself for a program too short to share.
    static std::size_t SplitRow(std::size_t rows, std::size_t leadRows = LeadRows,
                                std::size_t worthFrom = WorthFrom);

    // Starts planning rows `from` to the end in `mode`. `start` is the machine at the start of
    // the run. The program must outlive this object and stay unchanged until Finish; the
    // thread plans with copies of the settings and speeds (a prepared value is one thread's at
    // a time).
    PlanAhead(const gcode::Program& program, std::size_t from, RunMode mode,
              const MachineState& start, const PreparedPlanSettings& settings,
              const RunSpeeds& speeds, RowSink onRow, std::size_t leadRows = LeadRows);
    // Stops the thread after its row in hand, and waits for it.
    ~PlanAhead();
    PlanAhead(const PlanAhead&) = delete;
    PlanAhead& operator=(const PlanAhead&) = delete;

    // Waits for the thread. True when it planned from `at`, the machine as the rows before
    // `from` really left it, with these same settings and speeds: the rows it gave the sink
    // are then the program's own, and Run holds the stepper as it ended.
    bool Finish(const MachineState& at, const PlanSettings& settings, const RunSpeeds& speeds);
    const RunStepper& Run() const { return run_; }

private:
    void plan(const gcode::Program& program, RunMode mode, std::size_t leadRows);

    std::size_t from_;
    PreparedPlanSettings settings_;
    RunSpeeds speeds_;
    RowSink onRow_;
    MachineState machine_;
    gcode::PlotPen pen_;
    RunStepper run_;
    MachineState assumed_; // where the thread found the machine at `from`
    bool guessed_ = false; // assumed_ holds the machine at `from`
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};

} // namespace motion

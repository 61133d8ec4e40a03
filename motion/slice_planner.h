// Planning a program while it is still being read.
//
// The load hands its rows over a slice at a time (Program::Slice), and a thread of its own
// plans them in order, as one run from the machine at the start: a row's plan reads only the
// row, so a slice's row plans as the same row of the whole program. The caller may hold the
// thread back from a row on, to plan the rest another way once the whole program is there.
#pragma once

#include "gcode/plot_geometry.h"
#include "gcode/program.h"
#include "motion/planning.h"
#include "motion/program_run.h"
#include "motion/run_stepper.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>

namespace motion {

class SlicePlanner {
public:
    // Called on the planner's thread for each row, in order, with its row in the whole program
    // and the stepper that planned it (its Current). A refused row is the last one.
    using RowSink = std::function<void(std::size_t row, const RunStepper& run)>;

    // A run in `mode` from `start`, the machine at the start of the run; the thread plans with
    // its own copies. `onEnd`, when given, is called on the thread when it stops planning, for
    // whatever reason.
    SlicePlanner(RunMode mode, const MachineState& start, const PreparedPlanSettings& settings,
                 const RunSpeeds& speeds, RowSink onRow, std::function<void()> onEnd = {});
    // Stops after the row in hand, and waits for the thread.
    ~SlicePlanner();
    SlicePlanner(const SlicePlanner&) = delete;
    SlicePlanner& operator=(const SlicePlanner&) = delete;

    // The next rows of the program.
    void Add(gcode::Program slice);
    // Plans no row from about `row` on: the row it will stop at, never one it has already
    // started on (so at least `row`).
    std::size_t StopAt(std::size_t row);
    // Once the whole program of `rows` rows is given: stops about half way through the rows
    // not yet taken on, so that a second thread (PlanAhead) plans the rest beside it. The row
    // that part starts at; `rows` when too few are left to be worth sharing.
    std::size_t ShareRest(std::size_t rows);
    // No more slices come; the thread ends once it has planned what it was given.
    void NoMoreSlices();
    // No more slices come: waits until every row given, up to the stop, is planned or one is
    // refused. Then the rows it planned, and the machine as the last of them left it.
    void Finish();
    // Rows the thread has taken on so far (planned, or being planned).
    std::size_t RowsClaimed();
    std::size_t RowsPlanned() const { return planned_; }
    bool Refused() const { return refused_; }
    // Something went wrong on the thread (memory ran out): its rows cannot be relied on.
    bool Failed() const { return failed_; }
    const MachineState& Machine() const { return machine_; }
    // After Finish: the stepper that planned the rows, counting them from SliceFirst.
    const RunStepper& Run() const { return run_; }
    std::size_t SliceFirst() const { return sliceFirst_; }

private:
    void plan();
    // The next rows to plan, [from, to) of the slice in hand; false when there are none left.
    bool claim(std::size_t& to);

    RunMode mode_;
    PreparedPlanSettings settings_;
    RunSpeeds speeds_;
    RowSink onRow_;
    std::function<void()> onEnd_;
    MachineState machine_;
    gcode::PlotPen pen_;
    RunStepper run_;
    gcode::Program slice_;       // the slice in hand
    std::size_t sliceFirst_ = 0; // its first row in the whole program
    bool begun_ = false;

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<gcode::Program> waiting_;
    std::size_t given_ = 0;   // rows in all slices given
    std::size_t claimed_ = 0; // rows the thread has taken on
    std::size_t stopAt_ = std::numeric_limits<std::size_t>::max();
    bool finished_ = false; // no more slices come
    bool cancelled_ = false;

    std::size_t planned_ = 0; // read only after Finish
    bool refused_ = false;
    bool failed_ = false;
    std::thread thread_;
};

} // namespace motion

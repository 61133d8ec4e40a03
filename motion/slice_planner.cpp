#include "motion/slice_planner.h"

#include "motion/plan_ahead.h"

#include <algorithm>
#include <utility>

namespace motion {
namespace {

// Rows taken on at a time: few enough that a stop is never far off, many enough that the lock
// costs nothing beside the planning.
constexpr std::size_t ClaimRows = 512;

} // namespace

SlicePlanner::SlicePlanner(RunMode mode, const MachineState& start,
                           const PreparedPlanSettings& settings, const RunSpeeds& speeds,
                           RowSink onRow, std::function<void()> onEnd)
    : mode_(mode), settings_(settings), speeds_(speeds), onRow_(std::move(onRow)),
      onEnd_(std::move(onEnd)), machine_(start) {
    thread_ = std::thread([this] {
        plan();
        if (onEnd_) {
            onEnd_();
        }
    });
}

SlicePlanner::~SlicePlanner() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
    }
    arrived_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void SlicePlanner::Add(gcode::Program slice) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        given_ += slice.LineCount();
        waiting_.push_back(std::move(slice));
    }
    arrived_.notify_all();
}

std::size_t SlicePlanner::StopAt(std::size_t row) {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopAt_ = std::max(row, claimed_);
    return stopAt_;
}

std::size_t SlicePlanner::ShareRest(std::size_t rows) {
    const std::size_t at = RowsClaimed();
    return std::min(StopAt(at + PlanAhead::SplitRow(rows - std::min(at, rows))), rows);
}

std::size_t SlicePlanner::RowsClaimed() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return claimed_;
}

void SlicePlanner::NoMoreSlices() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    arrived_.notify_all();
}

void SlicePlanner::Finish() {
    NoMoreSlices();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool SlicePlanner::claim(std::size_t& to) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (cancelled_ || claimed_ >= stopAt_) {
            return false;
        }
        const std::size_t sliceEnd = sliceFirst_ + slice_.LineCount();
        if (begun_ && claimed_ < sliceEnd) {
            to = std::min({sliceEnd, stopAt_, claimed_ + ClaimRows});
            claimed_ = to;
            return true;
        }
        if (!waiting_.empty()) {
            sliceFirst_ = begun_ ? sliceEnd : 0;
            slice_ = std::move(waiting_.front());
            waiting_.pop_front();
            if (!begun_) {
                run_.Begin(&slice_, mode_, machine_, pen_, false);
                begun_ = true;
            } else {
                run_.Continue(&slice_);
            }
            continue;
        }
        if (finished_) {
            return false;
        }
        arrived_.wait(lock);
    }
}

void SlicePlanner::plan() {
    // Nothing may escape the thread: the caller, told the rows failed, plans them itself.
    try {
        std::size_t to = 0;
        while (claim(to)) {
            while (sliceFirst_ + run_.NextRow() < to) {
                const ProgramRowMove& move = run_.PlanNext(settings_, speeds_);
                onRow_(sliceFirst_ + run_.Row(), run_);
                if (move.planned.error) {
                    refused_ = true;
                    planned_ = sliceFirst_ + run_.Row() + 1;
                    return;
                }
            }
            planned_ = to;
        }
    } catch (...) {
        failed_ = true;
    }
}

} // namespace motion

// A timeline whose clock moves only when a test moves it. Wake-ups run in time order (ties in
// the order they were asked for) as the clock passes them.
#pragma once

#include "device/timeline.h"

#include <map>
#include <utility>

class ManualTimeline : public device::Timeline {
public:
    std::int64_t NowMs() override { return nowMs_; }

    TimerId CallAt(std::int64_t atMs, std::function<void()> callback) override {
        const TimerId id = ++lastId_;
        pending_.emplace(std::pair{atMs, id}, std::move(callback));
        return id;
    }

    void Cancel(TimerId id) override {
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            if (it->first.second == id) {
                pending_.erase(it);
                return;
            }
        }
    }

    // Moves the clock to `atMs`, running every wake-up due on the way at its own time.
    void AdvanceTo(std::int64_t atMs) {
        while (!pending_.empty() && pending_.begin()->first.first <= atMs) {
            RunFirst();
        }
        if (atMs > nowMs_) {
            nowMs_ = atMs;
        }
    }
    void AdvanceBy(std::int64_t ms) { AdvanceTo(nowMs_ + ms); }

    bool HasPending() const { return !pending_.empty(); }
    std::int64_t NextDueMs() const { return pending_.begin()->first.first; }

    // Runs the earliest wake-up, moving the clock to its time if that lies ahead.
    void RunFirst() {
        auto first = pending_.begin();
        if (first->first.first > nowMs_) {
            nowMs_ = first->first.first;
        }
        auto callback = std::move(first->second);
        pending_.erase(first);
        callback();
    }

private:
    std::int64_t nowMs_ = 0;
    TimerId lastId_ = 0;
    std::map<std::pair<std::int64_t, TimerId>, std::function<void()>> pending_;
};

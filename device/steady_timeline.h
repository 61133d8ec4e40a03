// The program's timeline: the monotonic clock of QElapsedTimer and precise single-shot timers on
// the window's thread, so a deadline does not move with the wall clock (midnight, clock changes).
#pragma once

#include "device/timeline.h"

#include <QElapsedTimer>
#include <QObject>

#include <map>

class QTimer;

namespace device {

class SteadyTimeline final : public Timeline {
public:
    SteadyTimeline();
    ~SteadyTimeline() override;

    std::int64_t NowMs() override;
    TimerId CallAt(std::int64_t atMs, std::function<void()> callback) override;
    void Cancel(TimerId id) override;

private:
    QElapsedTimer clock_;
    QObject owner_; // parent of the pending timers
    TimerId lastId_ = 0;
    std::map<TimerId, QTimer*> timers_;
};

} // namespace device

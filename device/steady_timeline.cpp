#include "device/steady_timeline.h"

#include <QTimer>

#include <algorithm>
#include <limits>

namespace device {

SteadyTimeline::SteadyTimeline() {
    clock_.start();
}

SteadyTimeline::~SteadyTimeline() = default;

std::int64_t SteadyTimeline::NowMs() {
    return clock_.elapsed();
}

Timeline::TimerId SteadyTimeline::CallAt(std::int64_t atMs, std::function<void()> callback) {
    const TimerId id = ++lastId_;
    // A QTimer holds an int of milliseconds; longer waits are re-armed until the time is reached.
    auto* timer = new QTimer(&owner_);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    timers_[id] = timer;
    QObject::connect(timer, &QTimer::timeout, timer, [this, id, atMs, timer, callback] {
        const std::int64_t leftMs = atMs - NowMs();
        if (leftMs > 0) {
            timer->start(
                static_cast<int>(std::min<std::int64_t>(leftMs, std::numeric_limits<int>::max())));
            return;
        }
        timers_.erase(id);
        timer->deleteLater();
        callback();
    });
    const std::int64_t leftMs = std::max<std::int64_t>(atMs - NowMs(), 0);
    timer->start(static_cast<int>(std::min<std::int64_t>(leftMs, std::numeric_limits<int>::max())));
    return id;
}

void SteadyTimeline::Cancel(TimerId id) {
    const auto found = timers_.find(id);
    if (found == timers_.end()) {
        return;
    }
    delete found->second;
    timers_.erase(found);
}

} // namespace device

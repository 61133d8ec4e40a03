#include "device/tick_timer.h"

#include <algorithm>

namespace device {

TickTimer::TickTimer(Timeline& clock, QObject* parent) : QObject(parent), clock_(clock) {}

TickTimer::~TickTimer() {
    disarm();
}

void TickTimer::setInterval(int ms) {
    intervalMs_ = std::max(ms, 0);
    if (enabled_) {
        arm(clock_.NowMs() + intervalMs_);
    }
}

void TickTimer::setEnabled(bool enabled) {
    if (enabled == enabled_) {
        return;
    }
    enabled_ = enabled;
    pending_ = false;
    if (enabled) {
        arm(clock_.NowMs() + intervalMs_);
    } else {
        disarm();
    }
}

void TickTimer::arm(std::int64_t atMs) {
    disarm();
    wakeUp_ = clock_.CallAt(atMs, [this] {
        wakeUp_ = 0;
        due();
    });
}

void TickTimer::disarm() {
    if (wakeUp_ != 0) {
        clock_.Cancel(wakeUp_);
        wakeUp_ = 0;
    }
}

void TickTimer::due() {
    if (!enabled_) {
        return;
    }
    // The next one is due an interval from now, unless the tick sets the interval afresh.
    arm(clock_.NowMs() + std::max(intervalMs_, 1));
    if (running_) {
        pending_ = true;
        return;
    }
    running_ = true;
    emit Timer();
    running_ = false;
    if (enabled_ && pending_) {
        pending_ = false;
        arm(clock_.NowMs()); // it came due while this tick ran: it runs now, from the event loop
    }
}

} // namespace device

// clsWaitableTimer: a delay that keeps the window alive. While it waits, every event of the
// window's thread (clicks, timer ticks, device notifications) is processed as usual.
#pragma once

#include "device/timeline.h"

#include <vector>

class QEventLoop;

namespace device {

class clsWaitableTimer {
public:
    explicit clsWaitableTimer(Timeline& clock);
    ~clsWaitableTimer();
    clsWaitableTimer(const clsWaitableTimer&) = delete;
    clsWaitableTimer& operator=(const clsWaitableTimer&) = delete;

    // Returns once MilliSeconds have passed. Zero and negative values return after one pass of
    // event processing. A Wait started inside another one has its own end time and leaves the
    // outer one's alone: the outer Wait returns at its own end or when the inner one returns,
    // whichever is later. When the application is quitting the wait ends at once, so that
    // shutting down never hangs on a delay.
    void Wait(int MilliSeconds);

    // The window closes: every wait in progress returns at once, and later ones after one pass
    // of event processing.
    void Abort();

private:
    Timeline& clock_;
    Timeline::TimerId TimerHandle = 0; // the wake-up of the innermost wait in progress
    std::vector<QEventLoop*> loops_;   // the waits in progress, outermost first
    bool aborted_ = false;
};

} // namespace device

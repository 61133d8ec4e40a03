#include "device/waitable_timer.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace device {

clsWaitableTimer::clsWaitableTimer(Timeline& clock) : clock_(clock) {}

clsWaitableTimer::~clsWaitableTimer() {
    if (TimerHandle != 0) {
        clock_.Cancel(TimerHandle);
    }
}

void clsWaitableTimer::Wait(int MilliSeconds) {
    if (MilliSeconds <= 0 || aborted_) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    const Timeline::TimerId outer = TimerHandle;
    TimerHandle = clock_.CallAt(clock_.NowMs() + MilliSeconds, [&loop] { loop.quit(); });
    // An inner wait ends this loop's exec only when it returns to us: the quit is remembered.
    loops_.push_back(&loop);
    loop.exec();
    loops_.pop_back();
    clock_.Cancel(TimerHandle);
    TimerHandle = outer;
}

void clsWaitableTimer::Abort() {
    aborted_ = true;
    for (QEventLoop* loop : loops_) {
        loop->quit();
    }
}

} // namespace device

// A periodic timer on the program's timeline (Timer1): an interval, enabled or not, and a
// tick each time the interval has passed. Ticks run on the window's thread from the event
// loop; on the virtual timeline of the tests they come at exact times without any wait.
//
// A tick never starts inside another one: a tick that comes due while the last one is still
// running (waiting for the board) runs as soon as that one returns, once however many came
// due meanwhile. So a slow board paces the ticks instead of having them pile up.
#pragma once

#include "device/timeline.h"

#include <QObject>

namespace device {

class TickTimer final : public QObject {
    Q_OBJECT
public:
    TickTimer(Timeline& clock, QObject* parent = nullptr);
    ~TickTimer() override;

    // The countdown starts afresh whenever the interval is set while enabled.
    void setInterval(int ms);
    int interval() const { return intervalMs_; }
    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled_; }
    bool TickRunning() const { return running_; }

signals:
    void Timer();

private:
    void arm(std::int64_t atMs);
    void disarm();
    void due();

    Timeline& clock_;
    int intervalMs_ = 0;
    bool enabled_ = false;
    bool running_ = false; // a tick handler has not returned yet
    bool pending_ = false; // a tick came due meanwhile
    Timeline::TimerId wakeUp_ = 0;
};

} // namespace device

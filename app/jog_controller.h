// The jog pad: a mouse press on a jog button builds the jog report and starts Timer1, each
// tick of Timer1 sends one report (its steps growing while the button is held) with the
// displays following, and letting go stops the ticks. Only mouse down and mouse up act: the
// keyboard never jogs, and a key's auto-repeat can never make a move.
//
// At most one jog report is in flight: every tick writes "OA" and waits for the board's "OK"
// of its own report, and a tick that comes due meanwhile waits its turn. A board that needs
// longer than the 80 ms interval paces the ticks, and once the button is let go the machine
// stops after at most the one report it is working on.
#pragma once

#include "app/main_controls.h"
#include "app/motion_state.h"
#include "app/settings_fields.h"
#include "manual/jog.h"

#include <QObject>
#include <optional>

namespace device {
class TickTimer;
}

namespace app {

class DeviceLink;
class OperatorMessages;

class JogController : public QObject {
    Q_OBJECT
public:
    struct Uses : MotionUses {
        device::TickTimer& Timer1;
    };

    explicit JogController(Uses uses);

    void JogButton_MouseDown(int number);
    void JogButton_MouseUp(int number);
    void Timer1_Timer();

    const manual::JogRamp& Ramp() const { return ramp_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void releaseGuardWhenIdle();

    Uses u_;
    manual::JogRamp ramp_;
    // From a press until the last tick is done, no GOTO, run or load can start.
    std::optional<MotionGuard::Hold> hold_;
};

} // namespace app

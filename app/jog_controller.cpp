#include "app/jog_controller.h"

#include "app/device_link.h"
#include "app/field_text.h"
#include "app/operator_messages.h"
#include "app/window_mirror.h"
#include "device/tick_timer.h"

#include <QEvent>
#include <QToolButton>

namespace app {

JogController::JogController(Uses uses) : u_(std::move(uses)) {
    for (int number = 1; number <= manual::JogButtonCount; ++number) {
        u_.controls.JogButton(number)->installEventFilter(this);
    }
    connect(&u_.Timer1, &device::TickTimer::Timer, this, &JogController::Timer1_Timer);
}

bool JogController::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseButtonRelease) {
        return false;
    }
    for (int number = 1; number <= manual::JogButtonCount; ++number) {
        if (watched == u_.controls.JogButton(number)) {
            // A double click's second press comes as a double-click event: it presses too.
            if (type == QEvent::MouseButtonRelease) {
                JogButton_MouseUp(number);
            } else {
                JogButton_MouseDown(number);
            }
        }
    }
    return false; // the button still shows itself pressed and let go
}

void JogController::JogButton_MouseDown(int number) {
    if (u_.guard.Busy() && !hold_) {
        return; // a GOTO, a program line or a load is waiting: a jog now would be a second motion
    }
    MotionState& m = u_.motion;
    m.flags.LimitStop = 0;
    if (const auto error = ramp_.Press(number, u_.settings.Jog(), m.machine)) {
        u_.Timer1.setEnabled(false);
        releaseGuardWhenIdle();
        u_.messages.Show(FieldText(*error));
        return;
    }
    if (!hold_) {
        hold_.emplace(u_.guard);
    }
    u_.Timer1.setInterval(1);
    u_.Timer1.setEnabled(true);
}

void JogController::JogButton_MouseUp(int) {
    u_.Timer1.setEnabled(false);
    releaseGuardWhenIdle();
}

void JogController::Timer1_Timer() {
    MotionState& m = u_.motion;
    u_.Timer1.setInterval(80);
    ramp_.Tick(u_.settings.Jog(), m.machine);
    ShowPositions(u_.controls, m);
    const MoveGateway::Sent sent = u_.device.Gateway()->SendReport(
        ramp_.Report(), u_.settings.Simulate(), u_.settings.SimulatorDelayMs(), "a jog");
    // Check point: a limit or emergency stop reported while this tick waited ends the jog,
    // although the button is still held.
    if (m.flags.LimitStop == 1 || sent != MoveGateway::Sent::Done) {
        u_.Timer1.setEnabled(false);
    }
    if (!u_.Timer1.isEnabled()) {
        hold_.reset(); // this was the jog's last tick
    }
}

void JogController::releaseGuardWhenIdle() {
    // A tick still waiting for the board lets go of the guard itself when it is done.
    if (!u_.Timer1.TickRunning()) {
        hold_.reset();
    }
}

} // namespace app

// The "Position" frame's buttons: GOTO moves to the typed position in one straight rapid move
// at the travel speed; each Zero button makes the current place 0 on its axis.
#pragma once

#include "app/main_controls.h"
#include "app/motion_state.h"
#include "app/settings_fields.h"

namespace app {

class DeviceLink;
class OperatorMessages;

class PositionPanel {
public:
    using Uses = MotionUses;

    explicit PositionPanel(Uses uses) : u_(std::move(uses)) {}

    // GOTO locks nothing, draws nothing and leaves the program table alone.
    void Command4_Click();
    // XResetZeroButton, YResetZeroButton, ZResetZeroButton: nothing is sent.
    void ResetZero_Click(motion::Axis axis);

private:
    Uses u_;
};

} // namespace app

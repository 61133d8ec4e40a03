// The "Position" frame's buttons: GOTO moves to the typed position in one straight rapid move
// at the travel speed; each Zero button makes the current place 0 on its axis.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

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
    // Lift Z: Z straight up to `safeZ` (thousandths) at the travel speed, as a GOTO moves;
    // nothing when Z already stands there or higher.
    void LiftZ_Click(std::int64_t safeZ);

private:
    void go(const std::array<std::string, 3>& entries, std::string_view during);

    Uses u_;
};

} // namespace app

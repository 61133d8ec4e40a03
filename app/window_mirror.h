// Core results written into the controls, each kind in one place: the position displays, the
// planning echoes in the working fields and the "USB Packet Out" echo.
#pragma once

#include "app/main_controls.h"
#include "encoding/motion_report.h"
#include "motion/planning.h"

#include <array>
#include <optional>

namespace app {

struct MotionState;

// The displays show the machine state's texts, which planning and the jog read back; an axis
// whose position is not verified shows it in warning colours, with the reason as its tool tip.
void ShowPositions(const MainControls& c, const MotionState& motion);

// Text1..Text6 of the move just planned: the distance of each planned axis ("" for the others)
// and the step counts; Text11 the X count of its first report. After a refused report only the
// distances are shown, and Text11 keeps the last report's.
void ShowMoveEchoes(const MainControls& c, const motion::PlannedMove& move);

// Text7, Text8, Text10: the direction bits before inversion, for the axes that have one.
void ShowDirectionEchoes(const MainControls& c, const std::array<std::optional<bool>, 3>& bits);
// The same taken from the move itself, for a move that planned every axis (GOTO).
void ShowDirectionEchoes(const MainControls& c, const motion::PlannedMove& move);

void ShowPacket(const MainControls& c, const encoding::MotionReport& report);

} // namespace app

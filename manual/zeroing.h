// Zeroing: the machine's current place becomes 0 on one axis. Only the tracked position and
// its display change; the board keeps no position, so nothing is sent.
#pragma once

#include "motion/planning.h"

namespace manual {

void ZeroAxis(motion::MachineState& machine, motion::Axis axis);

} // namespace manual

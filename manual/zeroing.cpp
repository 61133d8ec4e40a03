#include "manual/zeroing.h"

namespace manual {

void ZeroAxis(motion::MachineState& machine, motion::Axis axis) {
    motion::AxisState& a = machine[axis];
    a.positionMm = 0.0;
    a.positionText = "0000.000"; // Format(0)
}

} // namespace manual

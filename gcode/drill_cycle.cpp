#include "gcode/drill_cycle.h"

namespace gcode {

std::optional<std::vector<CycleMove>>
DrillBlockMoves(const DrillBlock&, const std::array<double, 3>&, CycleRefusal& refusal) {
    refusal.message = "Drilling cycles are not read yet.";
    return std::nullopt;
}

} // namespace gcode

#include "motion/goto_move.h"

#include "encoding/number_text.h"

namespace motion {

std::string NormaliseGotoEntry(std::string_view entry) {
    return encoding::Format(entry);
}

PlannedMove PlanGoto(const MachineState& machine, const PlanSettings& settings,
                     const std::array<std::string, 3>& normalisedEntries,
                     std::string_view travelSpeedText) {
    std::array<std::string, 3> targets;
    MoveRequest request;
    for (const Axis a : kAxes) {
        targets[index(a)] = encoding::Format(encoding::Val(normalisedEntries[index(a)]));
        request.targets[index(a)] = targets[index(a)];
    }
    const std::string speed = encoding::Format(travelSpeedText);
    request.speedText = speed;
    request.rapid = true;
    return PlanMove(machine, settings, request);
}

} // namespace motion

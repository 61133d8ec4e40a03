// GOTO: one straight move from the shown position to the typed one, always at the travel speed
// and always marked rapid.
#pragma once

#include "motion/planning.h"

#include <array>
#include <string>
#include <string_view>

namespace motion {

// An entry box after the GOTO has read it: "0000.000" form (12.3456 becomes 0012.346); a text
// that is not a number stays as typed.
std::string NormaliseGotoEntry(std::string_view entry);

// Plans the GOTO to the leading number of each normalised entry (0 when it has none) at the
// formatted travel speed. The caller clears the direction bits first, as every GOTO starts
// with them cleared, and sends the report(s) only when there is no error.
PlannedMove PlanGoto(const MachineState& machine, const PlanSettings& settings,
                     const std::array<std::string, 3>& normalisedEntries,
                     std::string_view travelSpeedText);

} // namespace motion

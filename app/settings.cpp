#include "app/settings.h"

#include "encoding/thousandths.h"

namespace app {

std::optional<std::int64_t> ClearanceOf(std::string_view text) {
    std::int64_t clearance = 0;
    if (encoding::RoundedThousandthsOf(text, clearance) && clearance >= 0 &&
        clearance <= MaxClearanceThousandths) {
        return clearance;
    }
    return std::nullopt;
}

motion::PlanSettings Settings::Plan() const {
    motion::PlanSettings plan;
    plan.pulsesPerMmText = lines[PulsesPerMmLine];
    plan.pwDelayText = lines[PwDelayLine];
    plan.inverse = {IsCheckedLine(lines[InverseXLine]), IsCheckedLine(lines[InverseYLine]),
                    IsCheckedLine(lines[InverseZLine])};
    plan.limitsDisabled = IsCheckedLine(lines[DisableLimitsLine]);
    plan.arcToleranceMm = arcToleranceMm;
    return plan;
}

motion::RunSpeeds Settings::Speeds() const {
    motion::RunSpeeds speeds;
    speeds.overrideGcode = IsCheckedLine(lines[OverrideLine]);
    speeds.travelSpeedText = lines[TravelSpeedLine];
    speeds.cutSpeedText = lines[CutSpeedLine];
    speeds.feedPercent = feedPercent;
    speeds.Prepare();
    return speeds;
}

manual::JogSettings Settings::Jog() const {
    const motion::PlanSettings plan = Plan();
    manual::JogSettings jog;
    jog.pulsesPerMmText = plan.pulsesPerMmText;
    jog.jogSpeedText = lines[JogSpeedLine];
    jog.pwDelayText = plan.pwDelayText;
    jog.inverse = plan.inverse;
    jog.limitsDisabled = plan.limitsDisabled;
    return jog;
}

} // namespace app

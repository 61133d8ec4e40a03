#include "app/settings_fields.h"

#include "encoding/thousandths.h"
#include <QSpinBox>

#include "app/field_text.h"
#include "device/simulator_delay.h"
#include "gcode/arc.h"

#include <QCheckBox>
#include <QLineEdit>

namespace app {

motion::PlanSettings SettingsFields::Plan() const {
    motion::PlanSettings settings;
    settings.pulsesPerMmText = CoreText(c_.setpulses->text());
    settings.pwDelayText = CoreText(c_.pwm1->text());
    settings.inverse = {c_.InverseX->isChecked(), c_.InverseY->isChecked(),
                        c_.InverseZ->isChecked()};
    settings.limitsDisabled = c_.Dlimits->isChecked();
    settings.arcToleranceMm = ArcToleranceMm();
    return settings;
}

double SettingsFields::ArcToleranceMm() const {
    return gcode::ArcToleranceOf(CoreText(c_.ArcTolerance->text()))
        .value_or(gcode::DefaultArcToleranceMm);
}

motion::RunSpeeds SettingsFields::Speeds() const {
    motion::RunSpeeds speeds;
    speeds.overrideGcode = c_.Check1->isChecked();
    speeds.travelSpeedText = CoreText(c_.Travspeed->text());
    speeds.cutSpeedText = CoreText(c_.cutspeed->text());
    speeds.feedPercent = c_.FeedOverride->value();
    speeds.Prepare();
    return speeds;
}

manual::JogSettings SettingsFields::Jog() const {
    const motion::PlanSettings plan = Plan();
    manual::JogSettings jog;
    jog.pulsesPerMmText = plan.pulsesPerMmText;
    jog.jogSpeedText = CoreText(c_.jogspeeds->text());
    jog.pwDelayText = plan.pwDelayText;
    jog.inverse = plan.inverse;
    jog.limitsDisabled = plan.limitsDisabled;
    return jog;
}

std::string SettingsFields::TravelSpeed() const {
    return CoreText(c_.Travspeed->text());
}

bool SettingsFields::Simulate() const {
    return c_.Check2->isChecked();
}

int SettingsFields::SimulatorDelayMs() const {
    return device::SimulatorDelayMs(CoreText(c_.Text16->text()));
}

} // namespace app

namespace app {

bool SettingsFields::OptionalStops() const {
    return c_.OptionalStop->isChecked();
}

std::int64_t SettingsFields::ClearanceThousandths() const {
    std::int64_t clearance = 0;
    if (encoding::RoundedThousandthsOf(CoreText(c_.Clearance->text()), clearance) &&
        clearance >= 0 && clearance <= 1'000'000) {
        return clearance;
    }
    return DefaultClearanceThousandths;
}

} // namespace app

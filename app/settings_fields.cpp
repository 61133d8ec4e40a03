#include "app/settings_fields.h"

#include "app/field_text.h"
#include "device/simulator_delay.h"
#include "gcode/arc.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>

namespace app {

Settings SettingsFields::read(std::initializer_list<SettingsLine> which) const {
    Settings settings;
    for (const SettingsLine line : which) {
        std::string& text = settings.lines[line];
        switch (line) {
        case InverseXLine:
            text = CheckBoxLine(c_.InverseX->isChecked());
            break;
        case InverseYLine:
            text = CheckBoxLine(c_.InverseY->isChecked());
            break;
        case InverseZLine:
            text = CheckBoxLine(c_.InverseZ->isChecked());
            break;
        case OverrideLine:
            text = CheckBoxLine(c_.Check1->isChecked());
            break;
        case DisableLimitsLine:
            text = CheckBoxLine(c_.Dlimits->isChecked());
            break;
        case TravelSpeedLine:
            text = CoreText(c_.Travspeed->text());
            break;
        case CutSpeedLine:
            text = CoreText(c_.cutspeed->text());
            break;
        case JogSpeedLine:
            text = CoreText(c_.jogspeeds->text());
            break;
        case PulsesPerMmLine:
            text = CoreText(c_.setpulses->text());
            break;
        case PwDelayLine:
            text = CoreText(c_.pwm1->text());
            break;
        default:
            break; // what nothing derived from it reads
        }
    }
    settings.arcToleranceMm = ArcToleranceMm();
    settings.clearanceThousandths = ClearanceThousandths();
    settings.optionalStops = c_.OptionalStop->isChecked();
    settings.feedPercent = c_.FeedOverride->value();
    return settings;
}

motion::PlanSettings SettingsFields::Plan() const {
    return read({PulsesPerMmLine, PwDelayLine, InverseXLine, InverseYLine, InverseZLine,
                 DisableLimitsLine})
        .Plan();
}

double SettingsFields::ArcToleranceMm() const {
    return gcode::ArcToleranceOf(CoreText(c_.ArcTolerance->text()))
        .value_or(gcode::DefaultArcToleranceMm);
}

motion::RunSpeeds SettingsFields::Speeds() const {
    return read({OverrideLine, TravelSpeedLine, CutSpeedLine}).Speeds();
}

manual::JogSettings SettingsFields::Jog() const {
    return read({PulsesPerMmLine, JogSpeedLine, PwDelayLine, InverseXLine, InverseYLine,
                 InverseZLine, DisableLimitsLine})
        .Jog();
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

bool SettingsFields::OptionalStops() const {
    return c_.OptionalStop->isChecked();
}

std::int64_t SettingsFields::ClearanceThousandths() const {
    return ClearanceOf(CoreText(c_.Clearance->text())).value_or(DefaultClearanceThousandths);
}

} // namespace app

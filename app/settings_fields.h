// The settings fields read into the core's Settings, and what planning, the run and the jog
// read derived from it there. A handler reads them when it starts (and a run at every line, as
// the operator may change speeds, the PW delay or Dlimits meanwhile); each reads only the
// fields it needs, as a fast run reads them thousands of times a second.
#pragma once

#include "app/main_controls.h"
#include "app/settings.h"
#include "manual/jog.h"
#include "motion/planning.h"
#include "motion/program_run.h"

#include <cstdint>
#include <initializer_list>
#include <string>

namespace app {

class SettingsFields {
public:
    explicit SettingsFields(const MainControls& controls) : c_(controls) {}

    // setpulses, pwm1, the Inverse boxes, Dlimits and the arc tolerance.
    motion::PlanSettings Plan() const;
    // The arc tolerance in mm: the field's number when it lies from 0.001 to 0.1, else the
    // default (the field refuses other texts as they are typed).
    double ArcToleranceMm() const;
    // Override, Travelling and Cutting, with the override speeds formatted, and the feed
    // override.
    motion::RunSpeeds Speeds() const;
    // setpulses, jogspeeds, pwm1, the Inverse boxes and Dlimits.
    manual::JogSettings Jog() const;
    std::string TravelSpeed() const; // Travspeed as typed
    bool Simulate() const;           // Check2
    int SimulatorDelayMs() const;    // Text16, in whole milliseconds
    bool OptionalStops() const;      // M1 pauses a run
    // The approach's clearance above the highest Z cut, in thousandths: the field's number
    // from 0 to 1000 mm, else the default 5 mm.
    std::int64_t ClearanceThousandths() const;

private:
    // The settings with these lines read from their fields (the others as a new file has
    // them), and the operator's own.
    Settings read(std::initializer_list<SettingsLine> which) const;

    const MainControls& c_;
};

} // namespace app

// The machine's settings as one value: the 17 lines of quorvane.cfg as the fields show them,
// and the operator's own settings that are kept beside window.ini instead (the arc tolerance,
// the approach's clearance, optional stops) with the run's feed override. Planning, the run and
// the jog read what they need from it here, so the window and the dry run derive them alike.
#pragma once

#include "app/settings_file.h"
#include "gcode/arc.h"
#include "manual/jog.h"
#include "motion/planning.h"
#include "motion/program_run.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace app {

inline constexpr std::int64_t DefaultClearanceThousandths = 5000;
inline constexpr std::int64_t MaxClearanceThousandths = 1'000'000;

// The clearance a text asks for, in thousandths: a number of millimetres from 0 to 1000.
std::optional<std::int64_t> ClearanceOf(std::string_view text);

struct Settings {
    SettingsLines lines = DefaultSettingsLines("");
    double arcToleranceMm = gcode::DefaultArcToleranceMm;
    std::int64_t clearanceThousandths = DefaultClearanceThousandths;
    bool optionalStops = false;
    int feedPercent = 100;

    // setpulses, pwm1, the Inverse boxes, Dlimits and the arc tolerance.
    motion::PlanSettings Plan() const;
    // Override, Travelling and Cutting, with the override speeds formatted, and the feed
    // override.
    motion::RunSpeeds Speeds() const;
    // setpulses, jogspeeds, pwm1, the Inverse boxes and Dlimits.
    manual::JogSettings Jog() const;
};

} // namespace app

#include "manual/jog.h"

#include "encoding/number_text.h"

#include <cmath>
#include <cstdint>

namespace manual {
namespace {

using motion::Axis;

// The pad: X/Y in a 3 x 3 square without a centre, Z up and down beside it.
constexpr std::array<JogButtonMove, JogButtonCount> Pad{{
    {{true, true, false}, {false, true, false}},   // 1: X-, Y+
    {{true, false, false}, {false, false, false}}, // 2: X-
    {{true, true, false}, {false, false, false}},  // 3: X-, Y-
    {{false, true, false}, {false, true, false}},  // 4: Y+
    {{false, true, false}, {false, false, false}}, // 5: Y-
    {{true, true, false}, {true, true, false}},    // 6: X+, Y+
    {{true, false, false}, {true, false, false}},  // 7: X+
    {{true, true, false}, {true, false, false}},   // 8: X+, Y-
    {{false, false, true}, {false, false, false}}, // 9: Z up
    {{false, false, true}, {false, false, true}},  // 10: Z down
}};

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// b = floor(pulses per mm / 10); none when the text is no number or negative.
std::optional<double> baseCount(const JogSettings& s) {
    const std::optional<double> pulses = encoding::NumberOf(s.pulsesPerMmText);
    if (!pulses || *pulses < 0) {
        return std::nullopt;
    }
    return std::floor(*pulses / 10);
}

// floor(PW delay / floor(Val(jog speed))), or why there is none.
struct Period {
    std::uint32_t value = 0;
    std::optional<std::string> error;
};

Period jogPeriod(const JogSettings& s) {
    const double speedWhole = std::floor(encoding::Val(s.jogSpeedText));
    if (!(speedWhole >= 1)) {
        return {0, "Jog speed must be at least 1 mm/min: " + quoted(s.jogSpeedText) + "."};
    }
    const std::optional<double> pwDelay = encoding::NumberOf(s.pwDelayText);
    if (!pwDelay) {
        return {0, "The PW delay " + quoted(s.pwDelayText) + " is not a number."};
    }
    const double period = std::floor(*pwDelay / speedWhole);
    if (period > encoding::kMaxStepPeriod) {
        return {0, "Step period too long: PW delay " + s.pwDelayText + " at " +
                       encoding::FormatSignificant(speedWhole) + " mm/min gives " +
                       encoding::FormatSignificant(period) +
                       ", but a report holds at most 65535. Raise the jog speed or lower the "
                       "PW delay."};
    }
    // A negative period has no bits to send: the field is 0, the fastest rate.
    return {period > 0 ? static_cast<std::uint32_t>(period) : 0u, std::nullopt};
}

std::uint32_t& countOf(encoding::MotionFields& f, Axis a) {
    return a == Axis::X ? f.xSteps : a == Axis::Y ? f.ySteps : f.zSteps;
}

// The multiplier a tick switches to, or 0 for a tick that keeps the stage.
int stageAt(int tick) {
    switch (tick) {
    case 2:
        return 2;
    case 4:
        return 3;
    case 6:
        return 10;
    case 8:
        return 20;
    default:
        return 0;
    }
}

} // namespace

const JogButtonMove& JogButtonOf(int number) {
    return Pad[static_cast<std::size_t>(number < 1 || number > JogButtonCount ? 0 : number - 1)];
}

std::optional<std::string> JogRamp::Press(int button, const JogSettings& settings,
                                          motion::MachineState& machine) {
    // Everything is checked before anything changes: a refused press leaves no report behind.
    const std::optional<double> b = baseCount(settings);
    if (!b) {
        return "Pulses per MM " + quoted(settings.pulsesPerMmText) +
               " must be a number of at least 0 to jog.";
    }
    if (*b > encoding::kMaxZSteps) {
        return "Pulses per MM " + settings.pulsesPerMmText +
               " asks for more steps per jog than a report holds.";
    }
    const Period period = jogPeriod(settings);
    if (period.error) {
        return period.error;
    }

    const JogButtonMove& pressed = JogButtonOf(button);
    JogTick = 0;
    JogMultiplier = 1;
    fields_ = encoding::MotionFields();
    for (const Axis a : motion::kAxes) {
        const std::size_t i = motion::index(a);
        machine[a].direction = pressed.bits[i] != settings.inverse[i];
        countOf(fields_, a) = pressed.moves[i] ? static_cast<std::uint32_t>(*b) : 0u;
    }
    fields_.limitsDisabled = settings.limitsDisabled;
    fields_.rapid = true;
    fields_.xDirection = machine[Axis::X].direction;
    fields_.yDirection = machine[Axis::Y].direction;
    fields_.zDirection = machine[Axis::Z].direction;
    fields_.stepPeriod = period.value;
    return std::nullopt;
}

void JogRamp::Tick(const JogSettings& settings, motion::MachineState& machine) {
    ++JogTick;
    if (const int multiplier = stageAt(JogTick); multiplier != 0) {
        // A stage that cannot be worked out (the pulses per mm retyped meanwhile) or whose
        // counts would not fit keeps the stage the jog is at.
        const std::optional<double> b = baseCount(settings);
        if (b && *b * multiplier <= encoding::kMaxZSteps) {
            JogMultiplier = multiplier;
            for (const Axis a : motion::kAxes) {
                if (Jogged(a)) {
                    countOf(fields_, a) = static_cast<std::uint32_t>(*b) * multiplier;
                }
            }
            if (multiplier >= 10) {
                if (const Period period = jogPeriod(settings); !period.error) {
                    fields_.stepPeriod = period.value;
                }
            }
        }
    }
    const double step = JogMultiplier * 0.1;
    for (const Axis a : motion::kAxes) {
        motion::AxisState& axis = machine[a];
        const std::optional<double> shown = encoding::NumberOf(axis.positionText);
        if (!Jogged(a) || !shown) {
            continue;
        }
        // The stored bit is the inverted one; undoing it with the box as it is now gives the
        // button's own direction. Z counts downwards.
        const bool bitPositive = a == Axis::Z ? !axis.direction : axis.direction;
        const bool positive = bitPositive != settings.inverse[motion::index(a)];
        axis.positionMm = positive ? *shown + step : *shown - step;
        axis.positionText = encoding::Format(axis.positionMm);
    }
}

encoding::MotionReport JogRamp::Report() const {
    // Counts stay within 16 bits and the period within its field, so the report always encodes.
    return *encoding::MotionReport::Encode(fields_);
}

bool JogRamp::Jogged(motion::Axis a) const {
    const encoding::MotionFields& f = fields_;
    return (a == Axis::X ? f.xSteps : a == Axis::Y ? f.ySteps : f.zSteps) != 0;
}

} // namespace manual

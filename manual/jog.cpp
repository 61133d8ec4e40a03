#include "manual/jog.h"

#include "encoding/number_text.h"
#include "encoding/thousandths.h"
#include "motion/step_position.h"

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

// The pulses per mm a jog works with; none when the text is no number or negative.
std::optional<motion::PulsesPerMm> jogPulses(const JogSettings& s) {
    const std::optional<double> pulses = encoding::NumberOf(s.pulsesPerMmText);
    if (!pulses || *pulses < 0) {
        return std::nullopt;
    }
    return motion::PulsesPerMm(s.pulsesPerMmText);
}

// Display steps of the ramp, in thousandths: 0.1 mm times the multiplier.
constexpr std::int64_t displayStep(int multiplier) {
    return std::int64_t{100} * multiplier;
}

// The most steps a display step can take: from zero it is S of the step, and from anywhere
// else at most one more. None when even that is beyond counting.
std::optional<std::uint64_t> mostStepsFor(const motion::PulsesPerMm& pulses, int multiplier) {
    const std::optional<std::int64_t> fromZero = pulses.StepsAt(displayStep(multiplier));
    if (!fromZero) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(*fromZero) + 1;
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
    const std::optional<motion::PulsesPerMm> pulses = jogPulses(settings);
    if (!pulses) {
        return "Pulses per MM " + quoted(settings.pulsesPerMmText) +
               " must be a number of at least 0 to jog.";
    }
    const std::optional<std::uint64_t> most = mostStepsFor(*pulses, 1);
    if (!most || *most > encoding::kMaxZSteps) {
        return "Pulses per MM " + settings.pulsesPerMmText +
               " asks for more steps per jog than a report holds.";
    }
    const Period period = jogPeriod(settings);
    if (period.error) {
        return period.error;
    }

    // b = floor(pulses per mm / 10): the steps of the first 0.1 mm from zero. An axis whose
    // tenth of a millimetre is no step at all is not jogged.
    const auto b = static_cast<std::uint32_t>(*pulses->StepsAt(displayStep(1)));
    const JogButtonMove& pressed = JogButtonOf(button);
    JogTick = 0;
    JogMultiplier = 1;
    fields_ = encoding::MotionFields();
    for (const Axis a : motion::kAxes) {
        const std::size_t i = motion::index(a);
        machine[a].direction = pressed.bits[i] != settings.inverse[i];
        jogged_[i] = pressed.moves[i] && b > 0;
        countOf(fields_, a) = jogged_[i] ? b : 0u;
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
    const std::optional<motion::PulsesPerMm> pulses = jogPulses(settings);
    if (const int multiplier = stageAt(JogTick); multiplier != 0) {
        // A stage that cannot be worked out (the pulses per mm retyped meanwhile) or whose
        // counts would not fit keeps the stage the jog is at.
        const std::optional<std::uint64_t> most =
            pulses ? mostStepsFor(*pulses, multiplier) : std::nullopt;
        if (most && *most <= encoding::kMaxZSteps) {
            JogMultiplier = multiplier;
            if (multiplier >= 10) {
                if (const Period period = jogPeriod(settings); !period.error) {
                    fields_.stepPeriod = period.value;
                }
            }
        }
    }
    for (const Axis a : motion::kAxes) {
        countOf(fields_, a) = 0;
        if (Jogged(a) && pulses) {
            step(a, *pulses, settings, machine[a]);
        }
    }
}

// One jogged axis at one tick: the display moves one display step in the direction of the
// button's arrow, whatever the Inverse boxes say now, and the count is the difference of the
// step positions of the display after and before. An axis whose display cannot be counted
// (beyond 10^15 mm) stays where it is and sends nothing.
void JogRamp::step(Axis a, const motion::PulsesPerMm& pulses, const JogSettings& settings,
                   motion::AxisState& axis) {
    std::int64_t shown = 0;
    if (!encoding::ThousandthsOfShownPosition(axis.positionText, shown)) {
        return;
    }
    // The stored bit is the inverted one; undoing it with the box as it is now gives the
    // button's own direction. Z counts downwards.
    const bool bitPositive = a == Axis::Z ? !axis.direction : axis.direction;
    const bool positive = bitPositive != settings.inverse[motion::index(a)];
    const std::int64_t next =
        positive ? shown + displayStep(JogMultiplier) : shown - displayStep(JogMultiplier);
    const std::optional<std::uint64_t> steps = pulses.StepsBetween(shown, next);
    if (!steps || *steps > encoding::kMaxZSteps) {
        return;
    }
    countOf(fields_, a) = static_cast<std::uint32_t>(*steps);
    axis.positionText = encoding::FormatThousandths(next);
    axis.positionMm = static_cast<double>(next) / 1000.0;
}

encoding::MotionReport JogRamp::Report() const {
    // Counts stay within 16 bits and the period within its field, so the report always encodes.
    return *encoding::MotionReport::Encode(fields_);
}

bool JogRamp::Jogged(motion::Axis a) const {
    return jogged_[motion::index(a)];
}

} // namespace manual

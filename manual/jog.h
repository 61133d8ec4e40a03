// Jogging without a window: the ten-button pad, the report a press builds, and the speed ramp
// that makes each report of a held button ask for more steps.
//
// A press asks every axis of its button for b = floor(pulses per mm / 10) steps (a tenth of a
// millimetre) at the jog speed. While the button is held, each tick moves the displays of the
// jogged axes by 0.1 mm times the multiplier (2 from tick 2, 3 from tick 4, 10 from tick 6 and
// 20 from tick 8), and asks for the steps of that display step: the difference of the step
// positions after and before it (motion/step_position.h). At 533.33 pulses per mm a held
// button sends 53, 106, 107, 160, 160, 533, 534, 1066, 1067, ... and the machine stays where
// the display says, however long the jog; b times the multiplier would fall 0.06 mm behind on
// every 10 mm.
//
// Counts are kept as whole values and laid out by encoding::MotionReport, so a count that fits
// one byte gives exactly the byte a single-byte writer would, and a larger one (pulses per mm
// of 860 and more) still arrives whole in the field's lower bytes instead of overflowing. A
// stage whose count could not fit 16 bits keeps the largest stage that fits.
#pragma once

#include "encoding/motion_report.h"
#include "motion/planning.h"
#include "motion/step_position.h"

#include <array>
#include <optional>
#include <string>

namespace manual {

// One button of the pad: the axes it moves and the direction bits it sets before inversion
// (X and Y: 1 positive; Z: 0 up). Every press sets all three bits.
struct JogButtonMove {
    std::array<bool, 3> moves;
    std::array<bool, 3> bits;
};

inline constexpr int JogButtonCount = 10;

// JogButton1 .. JogButton10.
const JogButtonMove& JogButtonOf(int number);

// The settings a jog reads, as their fields hold them.
struct JogSettings {
    std::string pulsesPerMmText = "533.333"; // setpulses; must be a number, not negative
    std::string jogSpeedText = "1000.00";    // jogspeeds; read for its leading number
    std::string pwDelayText = "57150";       // pwm1; must be a number
    std::array<bool, 3> inverse{};           // InverseX, InverseY, InverseZ
    bool limitsDisabled = false;             // Dlimits
};

class JogRamp {
public:
    // The press: a new report for the button and its direction bits (after inversion) stored
    // in the machine state; the ramp starts again from tick 0. With settings that give no
    // report it returns the operator's message and changes nothing.
    std::optional<std::string> Press(int button, const JogSettings& settings,
                                     motion::MachineState& machine);

    // One tick's work before its report goes out: JogTick counts up, the stage changes at
    // ticks 2, 4, 6 and 8 (at 6 and 8 the speed read afresh), and the display of each jogged
    // axis moves by 0.1 mm times the multiplier, in the direction of the button's arrow
    // whatever the Inverse boxes say now, with the steps of that move as its count. The pulses
    // per mm are read afresh at every tick; while they are no number, no axis moves.
    void Tick(const JogSettings& settings, motion::MachineState& machine);

    // The report as the next send takes it.
    encoding::MotionReport Report() const;
    const encoding::MotionFields& Fields() const { return fields_; }
    // The button moves the axis and a tenth of a millimetre is at least one step.
    bool Jogged(motion::Axis a) const;

    int JogTick = 0;
    int JogMultiplier = 1;

private:
    void step(motion::Axis a, const motion::PulsesPerMm& pulses, const JogSettings& settings,
              motion::AxisState& axis);

    encoding::MotionFields fields_;
    std::array<bool, 3> jogged_{};
};

} // namespace manual

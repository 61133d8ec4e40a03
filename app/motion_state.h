// Where the machine is and what a running motion must know, held once for the whole window:
// the tracked positions with their display texts and direction bits, the plot pen, and the two
// flags that carry events into a motion. Controls mirror it (window_mirror.h); nothing else
// keeps a copy.
#pragma once

#include "gcode/plot_geometry.h"
#include "motion/planning.h"
#include "motion/run_stepper.h"

#include <array>
#include <string>

namespace app {

struct MainControls;
class DeviceLink;
class MotionGuard;
class OperatorMessages;
class SettingsFields;

struct MotionState {
    motion::MachineState machine; // XPosition/XpositionDisplay/XDirection ... of every axis
    gcode::PlotPen pen;           // PlotX, PrevPlotX, PlotScale, LastCutZ, PassToggle
    motion::RunFlags flags;       // LimitStop, StopRequested
    // Per axis why its position can no longer be trusted, or empty. The board keeps no
    // position: after a move cut short (a limit, the emergency stop, an unplug) or one that
    // was never acknowledged, where the axis stands is not known until it is zeroed.
    std::array<std::string, 3> unverified;
};

// One motion at a time. A GOTO, a program line or a jog tick lets events run while it waits
// for the board; a click that would start a second motion (or a load, which zeroes the
// positions) inside that wait is ignored. STOP, the settings fields and Help stay usable.
class MotionGuard {
public:
    bool Busy() const { return depth_ > 0; }

    class Hold {
    public:
        explicit Hold(MotionGuard& guard) : guard_(guard) { ++guard_.depth_; }
        ~Hold() { --guard_.depth_; }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        MotionGuard& guard_;
    };

private:
    int depth_ = 0;
};

// What every controller of a motion (the run, GOTO and Zero, the jog) is given: the controls,
// where the machine is, the one-motion guard, the settings as typed, the operator's messages
// and the device link with its send gateway.
struct MotionUses {
    const MainControls& controls;
    MotionState& motion;
    MotionGuard& guard;
    const SettingsFields& settings;
    OperatorMessages& messages;
    DeviceLink& device;
};

} // namespace app

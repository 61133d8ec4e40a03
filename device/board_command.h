// The motion command report as the board reads it, for the virtual board and its window. The
// fields come from encoding::MotionReport::Decode (the layout is documented there); on top the
// board checks the fixed parts (identifier 0, reserved flag bits 7..5 and bytes 12..64 zero) and
// marks a report that breaks them as not well formed, so tests and the operator see the sender's
// fault instead of a silently accepted report.
#pragma once

#include "device/hid_library.h"
#include "encoding/motion_report.h"

#include <cstdint>
#include <string>

namespace device {

// The board's step timer: a step period of p lasts p / 508000 s. It follows from the PW delay
// rule (30 480 000 / pulses per mm): with that period a move at v mm/min takes exactly the time
// its step count needs.
inline constexpr double BoardTimerHz = 508000.0;

struct BoardCommand {
    encoding::MotionFields fields; // direction bits as sent, after the Inverse boxes
    bool wellFormed = true;
};

BoardCommand DecodeBoardCommand(const Report& report);

// How long the board is busy with the command: longest count x step period / 508000 s.
double MoveTimeMs(const BoardCommand& command);

// One line for the board's log: "X+ 5333 Y- 0 Z+ 0 period 57 rapid limits on, 0.598 s".
// The signs show the direction bit's meaning without any Inverse box.
std::string Describe(const BoardCommand& command);

} // namespace device

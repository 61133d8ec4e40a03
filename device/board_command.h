// The motion command report as the board reads it, for the virtual board and its window.
//
// Layout (multi-byte fields unsigned, most significant byte first):
//   index 0       report identifier, 0
//   index 1       flag byte: bit 4 limit switches disabled, bit 3 rapid, bit 2 Z direction,
//                 bit 1 Y direction, bit 0 X direction; bits 7..5 are 0
//   index 2..4    X step count, 24 bits
//   index 5..7    Y step count, 24 bits
//   index 8..9    Z step count, 16 bits
//   index 10..11  step period, 16 bits, in board timer units (1/508000 s per step)
//   index 12..64  0
// A report that breaks the fixed parts (identifier, reserved flag bits, tail bytes) is still
// decoded, but marked not well formed so that tests and the operator see the sender's fault.
#pragma once

#include "device/hid_library.h"

#include <cstdint>
#include <string>

namespace device {

// The board's step timer: a step period of p lasts p / 508000 s. It follows from the PW delay
// rule (30 480 000 / pulses per mm): with that period a move at v mm/min takes exactly the time
// its step count needs.
inline constexpr double BoardTimerHz = 508000.0;

struct BoardCommand {
    bool limitsDisabled = false;
    bool rapid = false;
    // Direction bits as sent (X and Y: 1 positive; Z: 0 positive, before the Inverse boxes).
    int zDirection = 0;
    int yDirection = 0;
    int xDirection = 0;
    std::uint32_t xCount = 0;
    std::uint32_t yCount = 0;
    std::uint32_t zCount = 0;
    std::uint32_t stepPeriod = 0;
    bool wellFormed = true;
};

BoardCommand DecodeBoardCommand(const Report& report);

// How long the board is busy with the command: longest count x step period / 508000 s.
double MoveTimeMs(const BoardCommand& command);

// One line for the board's log: "X+ 5333 Y- 0 Z+ 0 period 57 rapid limits on, 0.598 s".
// The signs show the direction bit's meaning without any Inverse box.
std::string Describe(const BoardCommand& command);

} // namespace device

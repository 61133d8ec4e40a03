// Motion reports for device tests, built the way the board reads them.
#pragma once

#include "device/hid_library.h"

// A move of exactly `ms` milliseconds on X: `ms` steps at period 508 (count x period / 508,000 s).
inline device::Report MoveOfMs(int ms) {
    device::Report report{};
    report[1] = 9; // rapid, X positive
    report[2] = static_cast<std::uint8_t>(ms >> 16);
    report[3] = static_cast<std::uint8_t>(ms >> 8);
    report[4] = static_cast<std::uint8_t>(ms);
    report[10] = 508 >> 8;
    report[11] = 508 & 0xFF;
    return report;
}

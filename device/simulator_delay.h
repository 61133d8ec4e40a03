// The Simulate-mode pause that stands in for the board's work.
#pragma once

#include <string_view>

namespace device {

// Val(Text16) in whole milliseconds, rounded to the nearest integer with ties to even, kept
// within the delay's 32-bit range (an operator can type anything into that field). Zero and
// negative delays are legal: the wait then returns after one pass of event processing.
int SimulatorDelayMs(std::string_view Text16);

} // namespace device

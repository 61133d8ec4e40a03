#include "device/simulator_delay.h"

#include "encoding/number_text.h"

#include <cmath>
#include <limits>

namespace device {

int SimulatorDelayMs(std::string_view Text16) {
    const double value = encoding::Val(Text16);
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double lowest = std::numeric_limits<int>::min();
    constexpr double highest = std::numeric_limits<int>::max();
    // The default floating-point environment rounds to nearest with ties to even.
    const double rounded = std::nearbyint(value);
    if (rounded <= lowest) {
        return std::numeric_limits<int>::min();
    }
    if (rounded >= highest) {
        return std::numeric_limits<int>::max();
    }
    return static_cast<int>(rounded);
}

} // namespace device

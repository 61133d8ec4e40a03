#include "device/board_command.h"

#include <algorithm>
#include <cstdio>

namespace device {

BoardCommand DecodeBoardCommand(const Report& report) {
    BoardCommand command;
    command.fields = encoding::MotionReport::Decode(report);
    command.wellFormed =
        report[0] == 0 && (report[1] & 0xE0) == 0 &&
        std::all_of(report.begin() + 12, report.end(), [](std::uint8_t byte) { return byte == 0; });
    return command;
}

double MoveTimeMs(const BoardCommand& command) {
    const encoding::MotionFields& f = command.fields;
    const std::uint32_t longest = std::max({f.xSteps, f.ySteps, f.zSteps});
    return static_cast<double>(longest) * f.stepPeriod * 1000.0 / BoardTimerHz;
}

std::string Describe(const BoardCommand& command) {
    const encoding::MotionFields& f = command.fields;
    char line[160];
    std::snprintf(line, sizeof line, "X%c %u Y%c %u Z%c %u period %u%s limits %s, %.3f s%s",
                  f.xDirection ? '+' : '-', f.xSteps, f.yDirection ? '+' : '-', f.ySteps,
                  f.zDirection ? '-' : '+', f.zSteps, f.stepPeriod, f.rapid ? " rapid" : "",
                  f.limitsDisabled ? "off" : "on", MoveTimeMs(command) / 1000.0,
                  command.wellFormed ? "" : " MALFORMED");
    return line;
}

} // namespace device

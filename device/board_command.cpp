#include "device/board_command.h"

#include <algorithm>
#include <cstdio>

namespace device {

namespace {

std::uint32_t BigEndian(const Report& report, std::size_t first, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = first; i < first + width; ++i) {
        value = (value << 8) | report[i];
    }
    return value;
}

} // namespace

BoardCommand DecodeBoardCommand(const Report& report) {
    const std::uint8_t flags = report[1];
    BoardCommand command;
    command.limitsDisabled = (flags & 0x10) != 0;
    command.rapid = (flags & 0x08) != 0;
    command.zDirection = (flags >> 2) & 1;
    command.yDirection = (flags >> 1) & 1;
    command.xDirection = flags & 1;
    command.xCount = BigEndian(report, 2, 3);
    command.yCount = BigEndian(report, 5, 3);
    command.zCount = BigEndian(report, 8, 2);
    command.stepPeriod = BigEndian(report, 10, 2);
    command.wellFormed =
        report[0] == 0 && (flags & 0xE0) == 0 &&
        std::all_of(report.begin() + 12, report.end(), [](std::uint8_t byte) { return byte == 0; });
    return command;
}

double MoveTimeMs(const BoardCommand& command) {
    const std::uint32_t longest = std::max({command.xCount, command.yCount, command.zCount});
    return static_cast<double>(longest) * command.stepPeriod * 1000.0 / BoardTimerHz;
}

std::string Describe(const BoardCommand& command) {
    char line[160];
    std::snprintf(line, sizeof line, "X%c %u Y%c %u Z%c %u period %u%s limits %s, %.3f s%s",
                  command.xDirection ? '+' : '-', command.xCount, command.yDirection ? '+' : '-',
                  command.yCount, command.zDirection ? '-' : '+', command.zCount,
                  command.stepPeriod, command.rapid ? " rapid" : "",
                  command.limitsDisabled ? "off" : "on", MoveTimeMs(command) / 1000.0,
                  command.wellFormed ? "" : " MALFORMED");
    return line;
}

} // namespace device

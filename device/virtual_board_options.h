// quorvane-virtual's command line: how the virtual board starts, for demonstrations and for
// checking a whole run from outside.
//
//   quorvane-virtual [--speed FACTOR] [--record FILE] [--fault N:CODE]...
//
// Exit status 2 for a usage error or a record file that cannot be written, before any window
// appears; 0 after --help.
#pragma once

#include "device/virtual_board.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace device {

inline constexpr int VirtualExitUsage = 2;

struct VirtualBoardFault {
    std::uint64_t reportNumber = 0; // from 1, every report the board receives counted
    std::string code;               // two printable ASCII characters

    bool operator==(const VirtualBoardFault&) const = default;
};

struct VirtualBoardOptions {
    double speedFactor = 1.0;
    std::string recordPath; // empty: no record
    std::vector<VirtualBoardFault> faults;
};

// Parses the arguments after the program name. On a usage error returns false with the
// message; `--help` also returns false, with an empty message. A repeated --speed or --record
// counts with its last value.
bool ParseVirtualBoardOptions(const std::vector<std::string_view>& args,
                              VirtualBoardOptions& options, std::string& error);

std::string VirtualBoardUsage();

// True when the parse of these arguments comes out the same whatever the window toolkit takes
// out of them when it starts: it ends before the first argument that could be the toolkit's own
// (an option not of these). Only then are help and usage errors answered before the toolkit
// starts, which needs a display.
bool ParseIsFinalWithoutToolkit(const std::vector<std::string_view>& args);

// Sets the board up as the options say; the record file stays open as long as the board keeps
// its recorder. False with the message when the record file cannot be written.
bool ApplyVirtualBoardOptions(const VirtualBoardOptions& options, VirtualBoard& board,
                              std::string& error);

} // namespace device

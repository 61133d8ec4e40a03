#include "device/virtual_board_options.h"

#include "device/report_record.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>

namespace device {
namespace {

bool takesValue(std::string_view arg) {
    return arg == "--speed" || arg == "--record" || arg == "--fault";
}

bool parseSpeed(std::string_view text, double& factor, std::string& error) {
    const char* end = text.data() + text.size();
    const auto [stop, status] = std::from_chars(text.data(), end, factor);
    if (text.empty() || status != std::errc() || stop != end || !std::isfinite(factor) ||
        factor < 0) {
        error = "bad speed factor \"" + std::string(text) +
                "\": give a number of 0 or more (1 = the real board's pace)";
        return false;
    }
    return true;
}

bool parseFault(std::string_view text, VirtualBoardFault& fault, std::string& error) {
    const std::string quoted = "bad fault \"" + std::string(text) + "\": ";
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        error = quoted + "give N:CODE, such as 3:XL";
        return false;
    }
    const std::string_view number = text.substr(0, colon);
    const std::string_view code = text.substr(colon + 1);
    const char* end = number.data() + number.size();
    const auto [stop, status] = std::from_chars(number.data(), end, fault.reportNumber);
    if (number.empty() || status != std::errc() || stop != end || fault.reportNumber == 0) {
        error = quoted + "N must be a whole number from 1 (the first report the board receives)";
        return false;
    }
    const auto printable = [](char c) { return c >= 0x20 && c <= 0x7E; };
    if (code.size() != 2 || !printable(code[0]) || !printable(code[1])) {
        error = quoted + "CODE must be two printable ASCII characters, such as XL or ES";
        return false;
    }
    fault.code = std::string(code);
    return true;
}

} // namespace

std::string VirtualBoardUsage() {
    return "usage: quorvane-virtual [--speed FACTOR] [--record FILE] [--fault N:CODE]...\n"
           "  The controller program driving the in-process virtual board.\n"
           "  --speed FACTOR  the board's speed factor at start: move times are multiplied by\n"
           "                  it; 1 = the real board's pace (the default), 0 = answer at once\n"
           "  --record FILE   every report the board receives, one line each: bytes 0 to 11 as\n"
           "                  a JSON array, as quorvane-plan --json shows them; the file is\n"
           "                  emptied at start and each line is flushed at once\n"
           "  --fault N:CODE  when the N-th report arrives (from 1), the board also reports the\n"
           "                  two characters CODE (XL, YL, ZL, XY, XZ, YZ, XA, ES...) at once,\n"
           "                  then still answers OK when the move is done; may be repeated\n"
           "  -h, --help      this text\n";
}

bool ParseVirtualBoardOptions(const std::vector<std::string_view>& args,
                              VirtualBoardOptions& options, std::string& error) {
    options = VirtualBoardOptions();
    error.clear();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            return false;
        }
        if (takesValue(arg) && i + 1 >= args.size()) {
            error = std::string(arg) + (arg == "--speed"    ? " needs a factor"
                                        : arg == "--record" ? " needs a file name"
                                                            : " needs N:CODE");
            return false;
        }
        if (arg == "--speed") {
            if (!parseSpeed(args[++i], options.speedFactor, error)) {
                return false;
            }
        } else if (arg == "--record") {
            options.recordPath = std::string(args[++i]);
            if (options.recordPath.empty()) {
                error = "--record needs a file name";
                return false;
            }
        } else if (arg == "--fault") {
            VirtualBoardFault fault;
            if (!parseFault(args[++i], fault, error)) {
                return false;
            }
            options.faults.push_back(std::move(fault));
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option " + std::string(arg);
            return false;
        } else {
            error = "unexpected argument \"" + std::string(arg) + "\": the program takes no file";
            return false;
        }
    }
    return true;
}

bool ParseIsFinalWithoutToolkit(const std::vector<std::string_view>& args) {
    std::size_t foreign = 0;
    while (foreign < args.size()) {
        const std::string_view arg = args[foreign];
        if (takesValue(arg)) {
            foreign += 2; // a value, however it looks
        } else if (!arg.empty() && arg[0] == '-' && arg != "--help" && arg != "-h") {
            break;
        } else {
            ++foreign;
        }
    }
    if (foreign >= args.size()) {
        return true;
    }
    VirtualBoardOptions options;
    std::string error;
    return !ParseVirtualBoardOptions({args.begin(), args.begin() + foreign}, options, error);
}

bool ApplyVirtualBoardOptions(const VirtualBoardOptions& options, VirtualBoard& board,
                              std::string& error) {
    board.SetSpeedFactor(options.speedFactor);
    for (const VirtualBoardFault& fault : options.faults) {
        board.AddFault(fault.reportNumber, fault.code);
    }
    if (options.recordPath.empty()) {
        return true;
    }
    auto file = std::make_shared<ReportRecordFile>();
    if (!file->Open(options.recordPath, error)) {
        return false;
    }
    board.SetRecorder([file, &board, path = options.recordPath,
                       told = false](const Report& report) mutable {
        // A record with a gap would mislead whoever checks the run: said once, where it is seen.
        if (!file->Write(report) && !told) {
            std::fprintf(stderr,
                         "quorvane-virtual: the record file %s could not take report %llu\n",
                         path.c_str(), static_cast<unsigned long long>(board.ReportsReceived()));
            told = true;
        }
    });
    return true;
}

} // namespace device

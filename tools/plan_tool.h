// quorvane-plan: a dry run of a G-code file with no window and no board.
//
//   quorvane-plan [--config FILE] [--json] GCODEFILE
//   quorvane-plan --help | --version
//
// The file is loaded as the Load button loads it and every row is planned as a live run from
// the load position would plan it (positions from 0000.000, direction bits cleared at the
// start, speeds by the speed table including Override), so the output is exactly what the
// board would be sent. Settings come from a 17-line settings file, or without --config from
// the values of a newly created one.
//
// Exit status: 0 after the last row; 1 when a row cannot be planned (the run would stop
// there); 2 for a usage error, a file that cannot be read or is refused (a folder, a device, a
// line longer than 1 MiB), or memory that runs out.
#pragma once

#include "app/settings_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

inline constexpr int PlanExitDone = 0;
inline constexpr int PlanExitRefused = 1;
inline constexpr int PlanExitUsage = 2;

struct PlanOptions {
    std::string configPath; // empty: the values of a newly created settings file
    bool json = false;
    bool designDialect = false; // --dialect design: only the original loader's line filter
    double arcToleranceMm = 0.002;
    std::string gcodePath;
    // --from ROW: the run as "Run from here" on row ROW (counted from 1) makes it, the approach
    // from the load position first; 0: the whole program.
    std::size_t fromRow = 0;
    std::int64_t clearanceThousandths = 5000; // --clearance: the approach's, above the highest Z
    bool version = false; // --version was asked for: print PlanVersion(), plan nothing
};

// Parses the arguments after the program name. On a usage error returns false with the
// message; `--help` and `--version` also return false, with an empty message, `--version`
// setting options.version. The first of the two ends the parsing, as a usage error does.
bool ParsePlanArguments(const std::vector<std::string_view>& args, PlanOptions& options,
                        std::string& error);

std::string PlanUsage();

// "quorvane-plan VERSION" and a line end, VERSION being the project's own.
std::string PlanVersion();

// Where the tool writes; the output is buffered and written in large pieces.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    virtual void Write(std::string_view text) = 0;
};

class FileSink : public OutputSink {
public:
    explicit FileSink(std::FILE* file) : file_(file) {}
    void Write(std::string_view text) override;

private:
    std::FILE* file_;
};

class StringSink : public OutputSink {
public:
    void Write(std::string_view text) override { text_.append(text); }
    std::string text_;
};

// The settings lines a dry run uses: the file's (missing lines from the defaults, with a
// warning), or the defaults. False with a message when the file cannot be read.
bool PlanSettingsLines(const PlanOptions& options, app::SettingsLines& lines, std::string& warning,
                       std::string& error);

// Runs the dry run and returns the exit status.
int RunPlan(const PlanOptions& options, OutputSink& out, OutputSink& err);

// A JSON string of 8-bit text: each byte is the character with that code.
void AppendJsonString(std::string& out, std::string_view bytes);

// Text from a file or a file name as the summary prints it to a terminal: UTF-8 characters
// pass, while control characters and bytes that are not UTF-8 show as \xHH, so no byte of a
// G-code file can move the cursor, change colours or retitle the window.
std::string TerminalText(std::string_view bytes);

} // namespace tools

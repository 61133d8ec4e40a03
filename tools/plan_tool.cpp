#include "tools/plan_tool.h"

#include "app/settings.h"

#include "encoding/motion_report.h"
#include "encoding/thousandths.h"
#include "gcode/program_load.h"
#include "motion/plan_ahead.h"
#include "motion/program_check.h"
#include "motion/run_control.h"
#include "motion/run_stepper.h"
#include "motion/slice_planner.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace tools {
namespace {

// Rows the load hands to the early planner at a time.
constexpr std::size_t RowsPerSlice = 16384;

// Small enough for the allocator's ordinary pools (a megabyte is a mapping of its own, made and
// dropped again on every call), large enough that writes cost nothing beside the planning.
constexpr std::size_t FlushAt = std::size_t{64} << 10;

// Collects output and hands it to the sink in large pieces: a million JSON lines are written
// in a few thousand calls. Rows are written straight into the buffer.
class Buffered {
public:
    // Nothing is written from the destructor: a sink that fails while the stack unwinds from
    // an earlier failure would end the program.
    explicit Buffered(OutputSink& sink) : sink_(sink), data_(new char[FlushAt]), cap_(FlushAt) {}

    // Room for n more characters; write them at the pointer, then Commit the new end.
    char* Reserve(std::size_t n) {
        if (len_ + n > cap_) {
            Flush();
            if (n > cap_) {
                data_.reset(new char[n]);
                cap_ = n;
            }
        }
        return data_.get() + len_;
    }
    void Commit(char* end) { len_ = static_cast<std::size_t>(end - data_.get()); }
    void Append(std::string_view text) {
        char* p = Reserve(text.size());
        std::memcpy(p, text.data(), text.size());
        Commit(p + text.size());
    }
    void Flush() {
        if (len_ != 0) {
            sink_.Write(std::string_view(data_.get(), len_));
            len_ = 0;
        }
    }

private:
    OutputSink& sink_;
    std::unique_ptr<char[]> data_;
    std::size_t cap_;
    std::size_t len_ = 0;
};

// The length of the UTF-8 character at i when it is one a terminal shows as text; 0 for a
// control character (C0, DEL, C1) and for any byte that does not start a valid character.
std::size_t utf8Length(std::string_view bytes, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char c = at(i);
    if (c < 0x80) {
        return c >= 0x20 && c != 0x7F ? 1 : 0;
    }
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07u;
    } else {
        return 0;
    }
    if (i + n > bytes.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < n; ++k) {
        if ((at(i + k) & 0xC0u) != 0x80u) {
            return 0;
        }
        cp = (cp << 6) | (at(i + k) & 0x3Fu);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp <= 0x9F) {
        return 0; // overlong, beyond Unicode, a surrogate, or a C1 control
    }
    return n;
}

char* put(char* p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

std::string lineName(std::size_t row, const gcode::KeptLineNumbers& fileLines) {
    std::string name = "file line ";
    const std::uint64_t line = fileLines.FileLine(row);
    name += line != 0 ? std::to_string(line) : "?";
    name += " (program line " + std::to_string(row + 1) + ")";
    return name;
}

// A JSON string of a text that needs no escapes, or the general route.
char* putString(char* p, std::string_view text, std::string& scratch) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\') {
            scratch.clear();
            AppendJsonString(scratch, text);
            return put(p, scratch);
        }
    }
    *p++ = '"';
    p = put(p, text);
    *p++ = '"';
    return p;
}

// One row's line. Number cells and positions are plain ASCII and are written in place; the
// bound below covers the escaped worst case of everything else.
// A row's five cells as JSON strings, separated by commas.
char* putCells(char* p, std::size_t row, const gcode::Program& program, std::string& scratch) {
    const gcode::ProgramRow& r = program.Rows()[row];
    *p++ = '"';
    p = put(p, gcode::MotionCode(r.MotionOf()));
    *p++ = '"';
    for (int w = 0; w < 4; ++w) {
        p = put(p, ", ");
        const gcode::WordCell cell = r.Word(w);
        if (!cell.present) {
            p = put(p, "\"\"");
            continue;
        }
        if (cell.pooled) {
            scratch.clear();
            program.AppendCellText(row, w + 1, scratch);
            std::string escaped;
            AppendJsonString(escaped, scratch);
            p = put(p, escaped);
            continue;
        }
        *p++ = '"';
        const char letter = gcode::WordLetter(w);
        *p++ = cell.lowerCase ? static_cast<char>(letter - 'A' + 'a') : letter;
        p += gcode::WriteThousandths(cell.value, p);
        if (cell.trailingBlank) {
            *p++ = ' ';
        }
        *p++ = '"';
    }
    return p;
}

void writeRowJson(Buffered& out, std::size_t row, const gcode::Program& program,
                  const motion::PlannedMove& move, const motion::MachineState& after,
                  std::string& scratch) {
    const gcode::ProgramRow& r = program.Rows()[row];
    // Reports are written at most this many per reservation; a move split many times over
    // must not ask for one huge block.
    constexpr std::uint64_t ReportsPerReserve = 256;
    constexpr std::size_t ReportBytes = encoding::kReportJsonMaxSize + 2;
    std::size_t bound = 200 + ReportsPerReserve * ReportBytes;
    for (int w = 0; w < 4; ++w) {
        const gcode::WordCell cell = r.Word(w);
        bound += cell.pooled ? 6 * program.WordBody(cell).size() + 8 : 24;
    }
    for (const motion::AxisState& axis : after.axes) {
        bound += 6 * axis.positionText.size() + 4;
    }
    char* p = put(out.Reserve(bound), "{\"row\": ");
    p = std::to_chars(p, p + 24, row).ptr;
    p = put(p, ", \"line\": ");
    p = std::to_chars(p, p + 24, program.fileLines.FileLine(row)).ptr;
    p = put(p, ", \"cells\": [");
    p = putCells(p, row, program, scratch);
    p = put(p, "], \"reports\": [");
    for (std::uint64_t part = 0; part < move.report.reportCount; ++part) {
        if (part > 0 && part % ReportsPerReserve == 0) {
            out.Commit(p); // the row so far may go out: what follows is written after it
            p = out.Reserve(bound);
        }
        const auto report = move.report.Report(part);
        if (!report) {
            continue; // the planner never makes a part that does not encode
        }
        if (part > 0) {
            p = put(p, ", ");
        }
        p = encoding::WriteReportJson(p, report->bytes());
    }
    p = put(p, "], \"position\": [");
    for (const motion::Axis a : motion::kAxes) {
        if (a != motion::Axis::X) {
            p = put(p, ", ");
        }
        p = putString(p, after[a].positionText, scratch);
    }
    p = put(p, "]}\n");
    out.Commit(p);
}

} // namespace

void FileSink::Write(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), file_);
}

std::string PlanUsage() {
    return "usage: quorvane-plan [--config FILE] [--json] [--dialect auto|design]\n"
           "                     [--arc-tolerance MM] [--from ROW [--clearance MM]] GCODEFILE\n"
           "       quorvane-plan --help | --version\n"
           "  Plans every line of GCODEFILE as a live run from the load position would and\n"
           "  shows what the board would be sent; nothing is sent.\n"
           "  --config FILE  settings from FILE (the 17-line quorvane.cfg format); without it,\n"
           "                 the values of a newly created settings file\n"
           "  --json         one JSON object per line: the load, then every row\n"
           "  --dialect D    auto (the default): as the Load button reads files; design: only\n"
           "                 the original line filter (G00, G01, X, Y, Z lines)\n"
           "  --arc-tolerance MM  how far an arc's straight moves may stray from it, 0.001 to\n"
           "                 0.1 mm (default 0.002)\n"
           "  --from ROW     as \"Run from here\" on table row ROW (from 1; JSON row ROW-1)\n"
           "                 with the displays at the load position: the approach, then the\n"
           "                 rows from ROW on; --json marks the approach's reports\n"
           "  --clearance MM the approach's height above the highest Z before ROW (default 5)\n"
           "  -h, --help     this text\n"
           "  --version      the program's name and version\n"
           "  Exit status: 0 when every row is planned, 1 when the file is refused or a row\n"
           "  cannot be planned (the run would stop there), 2 for a usage error or a file\n"
           "  that cannot be read.\n"
           "  See man quorvane-plan.\n";
}

std::string PlanVersion() {
    return std::string("quorvane-plan ") + QUORVANE_VERSION + "\n";
}

namespace {

// --from ROW (a table row from 1) or --clearance MM (0 to 1000) into the options; false with
// the message for a value that is neither.
bool readRunFrom(std::string_view arg, std::string_view value, PlanOptions& options,
                 std::string& error) {
    if (arg == "--from") {
        std::int64_t number = 0;
        if (!encoding::RoundedThousandthsOf(value, number) || number < 1000 || number % 1000 != 0) {
            error = "--from needs a row number from 1";
            return false;
        }
        options.fromRow = static_cast<std::size_t>(number / 1000);
        return true;
    }
    const std::optional<std::int64_t> clearance = app::ClearanceOf(value);
    if (!clearance) {
        error = "--clearance needs a number of millimetres from 0 to 1000";
        return false;
    }
    options.clearanceThousandths = *clearance;
    return true;
}

} // namespace

bool ParsePlanArguments(const std::vector<std::string_view>& args, PlanOptions& options,
                        std::string& error) {
    options = PlanOptions();
    error.clear();
    bool haveFile = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            return false;
        }
        if (arg == "--version") {
            options.version = true;
            return false;
        }
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--dialect") {
            const std::string_view value = i + 1 < args.size() ? args[++i] : std::string_view();
            if (value != "auto" && value != "design") {
                error = "--dialect needs auto or design";
                return false;
            }
            options.designDialect = value == "design";
        } else if (arg == "--arc-tolerance") {
            const std::optional<double> mm =
                i + 1 < args.size() ? gcode::ArcToleranceOf(args[++i]) : std::nullopt;
            if (!mm) {
                error = "--arc-tolerance needs a number of millimetres from 0.001 to 0.1";
                return false;
            }
            options.arcToleranceMm = *mm;
        } else if (arg == "--from" || arg == "--clearance") {
            if (!readRunFrom(arg, i + 1 < args.size() ? args[++i] : std::string_view(), options,
                             error)) {
                return false;
            }
        } else if (arg == "--config") {
            if (i + 1 >= args.size()) {
                error = "--config needs a settings file";
                return false;
            }
            options.configPath = std::string(args[++i]);
        } else if (arg.size() > 1 && arg[0] == '-' && !(haveFile && arg == "-")) {
            error = "unknown option " + std::string(arg);
            return false;
        } else if (haveFile) {
            error = "only one G-code file can be planned at a time";
            return false;
        } else {
            options.gcodePath = std::string(arg);
            haveFile = true;
        }
    }
    if (!haveFile) {
        error = "no G-code file given";
        return false;
    }
    return true;
}

bool PlanSettingsLines(const PlanOptions& options, app::SettingsLines& lines, std::string& warning,
                       std::string& error) {
    lines = app::DefaultSettingsLines("");
    warning.clear();
    if (options.configPath.empty()) {
        return true;
    }
    const app::SettingsReadResult read = app::ReadSettingsFile(options.configPath);
    if (read.status == app::SettingsReadResult::Missing) {
        error = options.configPath + ": no such settings file";
        return false;
    }
    if (read.status == app::SettingsReadResult::Unreadable) {
        error = options.configPath + ": " + read.error;
        return false;
    }
    // As the window does: a short file keeps the built-in value of every missing line.
    for (std::size_t i = 0; i < read.lines.size() && i < lines.size(); ++i) {
        lines[i] = read.lines[i];
    }
    if (!read.warning.empty()) {
        warning = read.warning + "\n"; // read in part; it names the missing lines itself
    } else if (read.lines.size() < lines.size()) {
        warning = options.configPath + " has " + std::to_string(read.lines.size()) +
                  " of 17 lines; the missing ones take the values of a new settings file\n";
    }
    return true;
}

void AppendJsonString(std::string& out, std::string_view bytes) {
    static constexpr char hex[] = "0123456789abcdef";
    const auto plain = [](unsigned char c) {
        return c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
    };
    out.push_back('"');
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t j = i;
        while (j < bytes.size() && plain(static_cast<unsigned char>(bytes[j]))) {
            ++j;
        }
        out.append(bytes.data() + i, j - i);
        if (j == bytes.size()) {
            break;
        }
        const auto c = static_cast<unsigned char>(bytes[j]);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20) {
            out += "\\u00";
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        } else {
            // U+0080..U+00FF in UTF-8.
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
        i = j + 1;
    }
    out.push_back('"');
}

namespace {

// A refused file: the line and the reason, as a JSON object or a summary line.
int refusedFile(const PlanOptions& options, const gcode::LoadRefusal& refusal, Buffered& out) {
    std::string text;
    if (options.json) {
        text = "{\"line\": " + std::to_string(refusal.fileLine) + ", \"error\": ";
        AppendJsonString(text, refusal.message);
        text += "}\n";
    } else {
        text = "Program:        " + TerminalText(options.gcodePath) + "\n";
        text += "Refused: " + TerminalText(refusal.message) + "\n";
    }
    out.Append(text);
    out.Flush();
    return PlanExitRefused;
}

// The settings file's lines and the options, as the window's settings would hold them.
app::Settings settingsOf(const app::SettingsLines& lines, const PlanOptions& options) {
    app::Settings settings;
    settings.lines = lines;
    settings.arcToleranceMm = options.arcToleranceMm;
    settings.clearanceThousandths = options.clearanceThousandths;
    return settings;
}

void writeHeaderJson(Buffered& out, const gcode::Program& program) {
    std::string text = "{\"lines\": " + std::to_string(program.LineCount()) + ", \"xmax\": ";
    AppendJsonString(text, program.XExtent.Shown());
    text += ", \"ymax\": ";
    AppendJsonString(text, program.YExtent.Shown());
    text += program.dialect == gcode::Dialect::Design ? ", \"dialect\": \"design\"}\n"
                                                      : ", \"dialect\": \"reader\"}\n";
    out.Append(text);
}

// The lines on which something was skipped, in file order, each written before the first row
// that comes from a later or the same line.
class SkippedLines {
public:
    explicit SkippedLines(const gcode::ReadAccount& account) : account_(account) {}

    void WriteUpTo(Buffered& out, std::uint64_t fileLine) {
        std::string text;
        for (; next_ < account_.skippedLines.size() &&
               account_.skippedLines[next_].fileLine <= fileLine;
             ++next_) {
            const auto& line = account_.skippedLines[next_];
            text = "{\"line\": " + std::to_string(line.fileLine) + ", \"skipped\": ";
            AppendJsonString(text, account_.SkippedOn(line));
            text += "}\n";
            out.Append(text);
        }
    }

private:
    const gcode::ReadAccount& account_;
    std::size_t next_ = 0;
};

std::string summaryText(const PlanOptions& options, const gcode::Program& program,
                        const motion::ProgramCheck& check, bool refused,
                        const std::string& warnings) {
    std::string text = "Program:        " + TerminalText(options.gcodePath) + "\n";
    text += "Lines kept:     " + std::to_string(program.LineCount()) + "\n";
    text += "Workpiece size: X " + TerminalText(program.XExtent.Shown()) + "  Y " +
            TerminalText(program.YExtent.Shown()) + "\n";
    text += "Reports:        " + std::to_string(check.reports) +
            (refused ? " (up to the refused line)" : "") + "\n";
    text += "Machine time:   " + motion::DurationText(check.Seconds()) +
            " (estimated: per report the longest count x step period / 508,000 s" +
            (check.dwellSeconds > 0 ? std::string(", and ")
                                          .append(motion::DurationText(check.dwellSeconds))
                                          .append(" of dwells")
                                    : std::string()) +
            ")\n";
    for (const std::string& line : gcode::DescribeLoad(program, options.arcToleranceMm)) {
        text += TerminalText(line) + "\n";
    }
    text += warnings.empty() ? std::string("No warnings.\n") : warnings;
    return text;
}

// The file loaded as a Load would load it; an exit status where it cannot be planned.
std::optional<int> loadFile(const PlanOptions& options, const app::SettingsLines& lines,
                            gcode::LoadFileResult& loaded, Buffered& buffer, OutputSink& err,
                            gcode::ProgramLoad::SliceSink slices) {
    gcode::LoadSettings load;
    load.feeds = {lines[app::CutSpeedLine], lines[app::TravelSpeedLine]};
    load.arcToleranceMm = options.arcToleranceMm;
    load.designOnly = options.designDialect;
    loaded = gcode::LoadGcodeFile(options.gcodePath, load, std::move(slices), RowsPerSlice);
    if (loaded.refusal && !loaded.refusal->notGcode) {
        return refusedFile(options, *loaded.refusal, buffer);
    }
    if (loaded.refusal) {
        err.Write("quorvane-plan: " + TerminalText(options.gcodePath) + ": " +
                  loaded.refusal->message + "\n");
        return PlanExitUsage;
    }
    if (!loaded.ok) {
        err.Write("quorvane-plan: cannot read " + TerminalText(options.gcodePath) + ": " +
                  loaded.error + "\n");
        return PlanExitUsage;
    }
    return std::nullopt;
}

// Rows that go out as several reports, each with its notice, in row order.
using SplitNotices = std::vector<std::pair<std::size_t, std::string>>;

// What the summary adds up: the check, and the rows sent as several reports.
struct Tally {
    explicit Tally(const motion::PreparedPlanSettings& settings) { check.Start(settings); }
    void Row(std::size_t row, const motion::ProgramRowMove& move) {
        check.Row(row, move);
        if (!move.planned.error) {
            if (auto notice = move.planned.report.SplitNotice()) {
                notices.emplace_back(row, std::move(*notice));
            }
        }
    }
    void Add(const Tally& later) {
        check.Add(later.check);
        notices.insert(notices.end(), later.notices.begin(), later.notices.end());
    }

    motion::ProgramCheck check;
    SplitNotices notices;
};

// The rows planned while the file is still read, a slice at a time on a thread of their own.
// They count when the file loads as the reader reads it and every row of it was given.
struct EarlyPlan {
    EarlyPlan(const motion::PreparedPlanSettings& settings, const motion::RunSpeeds& speeds)
        : tally(settings), planner(motion::RunMode::Live, motion::MachineState(), settings, speeds,
                                   [this](std::size_t row, const motion::RunStepper& run) {
                                       tally.Row(row, run.Current());
                                   }) {}

    Tally tally;
    std::size_t given = 0;
    motion::SlicePlanner planner; // last: it stops before the tally goes
};

// The rows from `from` on, planned into `tally` on a second thread, when it found `at` where
// the rows before left the machine; false when they must be planned another way.
std::optional<Tally> planAhead(const gcode::Program& program, std::size_t from,
                               const motion::PreparedPlanSettings& settings,
                               const motion::RunSpeeds& speeds,
                               const std::function<const motion::MachineState*()>& plannedUpTo) {
    Tally later(settings);
    motion::PlanAhead ahead(
        program, from, motion::RunMode::Live, motion::MachineState(), settings, speeds,
        [&](const motion::RunStepper& other) { later.Row(other.Row(), other.Current()); });
    const motion::MachineState* at = plannedUpTo();
    if (at == nullptr || !ahead.Finish(*at, settings.fields, speeds)) {
        return std::nullopt;
    }
    return later;
}

// Rows from `row` to the end, on this thread, from where the rows before left the machine.
void planRest(const gcode::Program& program, std::size_t row, motion::MachineState machine,
              const motion::PreparedPlanSettings& settings, const motion::RunSpeeds& speeds,
              Tally& tally) {
    gcode::PlotPen pen;
    motion::RunStepper run;
    run.Resume(&program, motion::RunMode::Live, machine, pen, row);
    while (run.HasNext()) {
        const motion::ProgramRowMove& move = run.PlanNext(settings, speeds);
        tally.Row(run.Row(), move);
        if (move.planned.error) {
            return;
        }
    }
}

// Every row planned into the tally, a long program on both cores; the machine starts at the
// load position.
void checkProgram(const gcode::Program& program, const motion::PreparedPlanSettings& settings,
                  const motion::RunSpeeds& speeds, Tally& tally) {
    motion::MachineState machine;
    gcode::PlotPen pen;
    motion::RunStepper run;
    run.Begin(&program, motion::RunMode::Live, machine, pen, false);
    const std::size_t from = motion::PlanAhead::SplitRow(program.LineCount());
    bool refused = false;
    const auto planFirst = [&]() -> const motion::MachineState* {
        while (run.NextRow() < from) {
            const motion::ProgramRowMove& move = run.PlanNext(settings, speeds);
            tally.Row(run.Row(), move);
            if (move.planned.error) {
                refused = true;
                return nullptr; // the run stops here; the other thread's rows never count
            }
        }
        return &machine;
    };
    if (from == program.LineCount()) {
        planFirst();
        return;
    }
    if (const std::optional<Tally> later = planAhead(program, from, settings, speeds, planFirst)) {
        tally.Add(*later);
    } else if (!refused) {
        planRest(program, from, machine, settings, speeds, tally);
    }
}

// The rows the early planner has not got to, now that the whole program is read: shared
// between it and a second thread. False when its rows cannot be relied on.
bool finishEarly(const gcode::Program& program, const motion::PreparedPlanSettings& settings,
                 const motion::RunSpeeds& speeds, EarlyPlan& early) {
    const std::size_t rows = program.LineCount();
    const std::size_t from = early.planner.ShareRest(rows);
    const auto plannedUpTo = [&]() -> const motion::MachineState* {
        early.planner.Finish();
        const bool whole = !early.planner.Failed() && !early.planner.Refused();
        return whole ? &early.planner.Machine() : nullptr;
    };
    std::optional<Tally> later;
    if (from < rows) {
        later = planAhead(program, from, settings, speeds, plannedUpTo);
    } else {
        plannedUpTo();
    }
    if (early.planner.Failed()) {
        return false;
    }
    if (later) {
        early.tally.Add(*later);
    } else if (!early.planner.Refused()) {
        planRest(program, early.planner.RowsPlanned(), early.planner.Machine(), settings, speeds,
                 early.tally);
    }
    return true;
}

// The summary: what the rows come to, and every warning; the exit status.
int summarizeRows(const PlanOptions& options, const app::SettingsLines& lines,
                  const gcode::Program& program, std::optional<EarlyPlan>& early,
                  Buffered& buffer) {
    const motion::PreparedPlanSettings settings =
        motion::PreparedPlanSettings(settingsOf(lines, options).Plan());
    const motion::RunSpeeds speeds = settingsOf(lines, options).Speeds();
    const bool readEarly = early && early->given == program.LineCount() &&
                           program.dialect == gcode::Dialect::Reader &&
                           finishEarly(program, settings, speeds, *early);
    std::optional<Tally> planned;
    if (!readEarly) {
        early.reset();
        planned.emplace(settings);
        checkProgram(program, settings, speeds, *planned);
    }
    Tally& tally = readEarly ? early->tally : *planned;
    tally.check.Dwells(program);
    const motion::ProgramCheck& check = tally.check;

    std::string warnings;
    if (check.zeroSteps) {
        warnings += "Warning: " + TerminalText(*check.zeroSteps) + "\n";
    }
    for (const auto& [row, notice] : tally.notices) {
        warnings += "Warning: " + lineName(row, program.fileLines) + ": " + notice + "\n";
    }
    if (check.refusedRow) {
        warnings += "Refused: " + lineName(*check.refusedRow, program.fileLines) + ": " +
                    TerminalText(check.refusal) +
                    " The run stops here; nothing from this line on is sent.\n";
    }
    buffer.Append(summaryText(options, program, check, check.refusedRow.has_value(), warnings));
    buffer.Flush();
    return check.refusedRow ? PlanExitRefused : PlanExitDone;
}

// An approach move's line, marked as such: its reports and where it leaves the displays.
void writeApproachJson(Buffered& out, std::size_t leg, const motion::PlannedMove& move,
                       const motion::MachineState& after) {
    std::string text = "{\"approach\": " + std::to_string(leg) + ", \"reports\": [";
    char report[encoding::kReportJsonMaxSize];
    for (std::uint64_t part = 0; part < move.report.reportCount; ++part) {
        if (const auto bytes = move.report.Report(part)) {
            text.append(part > 0 ? ", " : "");
            text.append(report, encoding::WriteReportJson(report, bytes->bytes()));
        }
    }
    text += "], \"position\": [";
    for (const motion::Axis a : motion::kAxes) {
        text.append(a != motion::Axis::X ? ", " : "");
        AppendJsonString(text, after[a].positionText);
    }
    out.Append(text + "]}\n");
}

// Where "Run from here" on options.fromRow starts: the run positioned on that row with its
// approach from the load position. None, with the reason, when the rows before cannot be
// planned or there is no such row.
std::optional<std::string> startFrom(const PlanOptions& options, const gcode::Program& program,
                                     const motion::PreparedPlanSettings& settings,
                                     const motion::RunSpeeds& speeds, motion::RunStepper& run,
                                     std::vector<motion::ApproachLeg>& legs) {
    const std::size_t row = options.fromRow - 1;
    if (row >= program.LineCount()) {
        return "--from " + std::to_string(options.fromRow) + ": the program has " +
               std::to_string(program.LineCount()) + " rows";
    }
    const motion::MachineState load;
    const motion::RowStart start = motion::PlanToRow(program, row, load, settings, speeds);
    const auto target = motion::ShownThousandths(start.machine);
    if (start.error || !target) {
        return lineName(start.errorRow, program.fileLines) + ": " +
               (start.error ? start.error->message : std::string("no position"));
    }
    legs = motion::ApproachLegs({0, 0, 0}, *target, start.highestZ, options.clearanceThousandths);
    run.StartAt(row);
    run.Approach(legs, motion::DirectionBits(start.machine));
    return std::nullopt;
}

// Every row planned as a live run would plan it, written out as JSON; the exit status.
int writeRows(const PlanOptions& options, const app::SettingsLines& lines,
              const gcode::Program& program, Buffered& buffer) {
    const motion::PreparedPlanSettings settings =
        motion::PreparedPlanSettings(settingsOf(lines, options).Plan());
    const motion::RunSpeeds speeds = settingsOf(lines, options).Speeds();

    // Loading zeroes the positions; the run then clears the direction bits.
    motion::MachineState machine;
    gcode::PlotPen pen;
    motion::RunStepper run;
    run.Begin(&program, motion::RunMode::Live, machine, pen, false);
    writeHeaderJson(buffer, program);

    std::string text;
    std::string scratch;
    SkippedLines skipped(program.account);
    if (options.fromRow > 0) {
        std::vector<motion::ApproachLeg> legs;
        if (const auto refused = startFrom(options, program, settings, speeds, run, legs)) {
            text = "{\"error\": ";
            AppendJsonString(text, *refused);
            buffer.Append(text + "}\n");
            buffer.Flush();
            return PlanExitRefused;
        }
    }
    int status = PlanExitDone;
    std::size_t leg = 0;
    while (run.HasNext()) {
        const motion::ProgramRowMove& move = run.PlanNext(settings, speeds);
        const std::size_t row = move.approach ? run.NextRow() : run.Row();
        if (move.planned.error) {
            text = (move.approach ? "{\"approach\": " + std::to_string(leg)
                                  : "{\"row\": " + std::to_string(row)) +
                   ", \"error\": ";
            AppendJsonString(text, move.planned.error->message);
            text += "}\n";
            buffer.Append(text);
            status = PlanExitRefused;
            break;
        }
        if (move.approach) {
            writeApproachJson(buffer, leg++, move.planned, machine);
            continue;
        }
        skipped.WriteUpTo(buffer, program.fileLines.FileLine(row));
        writeRowJson(buffer, row, program, move.planned, machine, scratch);
    }
    if (status == PlanExitDone) {
        skipped.WriteUpTo(buffer, std::numeric_limits<std::uint64_t>::max());
    }
    buffer.Flush();
    return status;
}

// The approach "Run from here" makes, for the operator: its legs, then the rows that follow.
int writeApproach(const PlanOptions& options, const app::SettingsLines& lines,
                  const gcode::Program& program, Buffered& buffer) {
    const motion::PreparedPlanSettings settings =
        motion::PreparedPlanSettings(settingsOf(lines, options).Plan());
    const motion::RunSpeeds speeds = settingsOf(lines, options).Speeds();
    motion::MachineState machine;
    gcode::PlotPen pen;
    motion::RunStepper run;
    run.Begin(&program, motion::RunMode::Live, machine, pen, false);
    std::vector<motion::ApproachLeg> legs;
    if (const auto refused = startFrom(options, program, settings, speeds, run, legs)) {
        buffer.Append("Refused: " + TerminalText(*refused) + "\n");
        buffer.Flush();
        return PlanExitRefused;
    }
    const std::size_t row = run.NextRow();
    std::string text =
        "Run from row " + std::to_string(row + 1) + " (" + lineName(row, program.fileLines) +
        ") from the load position:\n" +
        motion::ApproachText(0, legs, motion::ApproachFeedText(program, row, speeds)) + "\n";
    while (run.Approaching()) {
        if (const motion::ProgramRowMove& move = run.PlanNext(settings, speeds);
            move.planned.error) {
            buffer.Append(text + "Refused: the approach: " +
                          TerminalText(move.planned.error->message) + "\n");
            buffer.Flush();
            return PlanExitRefused;
        }
    }
    buffer.Append(text + "then rows " + std::to_string(row + 1) + " to " +
                  std::to_string(program.LineCount()) + ".\n");
    buffer.Flush();
    return PlanExitDone;
}

// The dry run itself; RunPlan turns a failed allocation into a message.
int runPlan(const PlanOptions& options, OutputSink& out, OutputSink& err) {
    app::SettingsLines lines;
    std::string warning;
    std::string error;
    if (!PlanSettingsLines(options, lines, warning, error)) {
        err.Write("quorvane-plan: " + TerminalText(error) + "\n");
        return PlanExitUsage;
    }
    if (!warning.empty()) {
        err.Write("quorvane-plan: " + TerminalText(warning.substr(0, warning.size() - 1)) + "\n");
    }
    // The summary plans the reader's rows while the file is still read.
    std::optional<EarlyPlan> early;
    gcode::ProgramLoad::SliceSink slices;
    if (!options.json && !options.designDialect && options.fromRow == 0) {
        early.emplace(motion::PreparedPlanSettings(settingsOf(lines, options).Plan()),
                      settingsOf(lines, options).Speeds());
        slices = [&early](gcode::Program slice) {
            early->given += slice.LineCount();
            early->planner.Add(std::move(slice));
        };
    }
    gcode::LoadFileResult loaded;
    Buffered buffer(out);
    if (const std::optional<int> status =
            loadFile(options, lines, loaded, buffer, err, std::move(slices))) {
        return *status;
    }
    if (options.json) {
        return writeRows(options, lines, loaded.program, buffer);
    }
    return options.fromRow > 0 ? writeApproach(options, lines, loaded.program, buffer)
                               : summarizeRows(options, lines, loaded.program, early, buffer);
}

void writeFailure(OutputSink& err, std::string_view what, const std::exception& e) {
    // Only pieces that need no allocation: memory has just run out.
    err.Write("quorvane-plan: ");
    err.Write(what);
    err.Write(" (");
    err.Write(e.what());
    err.Write("); the dry run stops here\n");
}

} // namespace

int RunPlan(const PlanOptions& options, OutputSink& out, OutputSink& err) {
    try {
        return runPlan(options, out, err);
    } catch (const std::bad_alloc& e) {
        writeFailure(err, "out of memory", e);
    } catch (const std::length_error& e) {
        writeFailure(err, "a size beyond what memory can hold", e);
    }
    return PlanExitUsage;
}

std::string TerminalText(std::string_view bytes) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const std::size_t n = utf8Length(bytes, i);
        if (n == 0) {
            out += "\\x";
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
            ++i;
            continue;
        }
        out.append(bytes.substr(i, n));
        i += n;
    }
    return out;
}

} // namespace tools

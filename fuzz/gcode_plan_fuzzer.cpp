// The G-code loader, the planner and the dry run end to end, on any bytes as a G-code file.
//
// Cross-checks: the whole-file load against the window's route (pass 1 and pass 2 fed in
// chunks of sizes drawn from the input) and against the file route the dry run reads with;
// every row planned with settings prepared once against settings read afresh for the move;
// the parts of a split move adding up to its whole counts; the counts of all rows so far adding
// up, on every axis, to pulses per mm x the displays, rounded toward zero, worked out here in
// 128 bits; the dry run's JSON lines and its summary, which must hold no control byte but the
// line ends.
#include "app/settings_file.h"
#include "encoding/thousandths.h"
#include "fuzz/fuzz_support.h"
#include "gcode/loader.h"
#include "gcode/program_load.h"
#include "motion/program_run.h"
#include "tools/plan_tool.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using fuzz::Check;

// Rows planned per input in the cross-check; the dry run itself plans them all.
constexpr std::size_t PlannedRowsChecked = 2000;

// A pulses-per-mm setting and the step position S of a display as a fraction worked out in
// 128 bits: S(t thousandths) = numerator x t / (denominator x 1000), rounded toward zero (away
// from zero for a negative setting). No denominator: no S (1e300 counts nothing but no move).
struct Pulses {
    const char* text;
    std::int64_t numerator;
    std::int64_t denominator;
    bool awayFromZero = false;
};
constexpr Pulses PulsesChoices[] = {{"533.33", 53333, 100}, {"1", 1, 1},       {"0", 0, 1},
                                    {"-5", 5, 1, true},     {"1e300", 1, 0},   {"abc", 0, 1},
                                    {"2000", 2000, 1},      {"0.001", 1, 1000}};

__extension__ using Wide = __int128;

Wide StepsAt(const Pulses& p, std::int64_t thousandths) {
    const Wide product = Wide{p.numerator} * thousandths;
    const Wide divisor = Wide{p.denominator} * 1000;
    Wide steps = product / divisor; // toward zero
    if (p.awayFromZero && product % divisor != 0) {
        steps += product < 0 ? -1 : 1;
    }
    return steps;
}

// The settings of one input, chosen by its last byte and its length.
struct Choice {
    app::SettingsLines lines;
    motion::PlanSettings plan;
    motion::RunSpeeds speeds;
    const Pulses* pulses = nullptr;
};

Choice ChoiceOf(unsigned char selector, std::size_t size) {
    static constexpr const char* pwDelays[] = {"57150", "1", "x", "65536000"};
    static constexpr const char* speeds[] = {"1000", "500", "0.5", "fast"};
    Choice c;
    c.lines = app::DefaultSettingsLines("");
    c.pulses = &PulsesChoices[selector & 7];
    c.lines[app::PulsesPerMmLine] = c.pulses->text;
    c.lines[app::PwDelayLine] = pwDelays[(selector >> 3) & 3];
    c.lines[app::OverrideLine] = app::CheckBoxLine((selector & 0x20) != 0);
    c.lines[app::InverseXLine] = app::CheckBoxLine((selector & 0x40) != 0);
    c.lines[app::InverseZLine] = app::CheckBoxLine((selector & 0x40) != 0);
    c.lines[app::DisableLimitsLine] = app::CheckBoxLine((selector & 0x80) != 0);
    c.lines[app::TravelSpeedLine] = speeds[size & 3];
    c.lines[app::CutSpeedLine] = speeds[(size >> 2) & 3];

    c.plan.pulsesPerMmText = c.lines[app::PulsesPerMmLine];
    c.plan.pwDelayText = c.lines[app::PwDelayLine];
    c.plan.inverse = {app::IsCheckedLine(c.lines[app::InverseXLine]),
                      app::IsCheckedLine(c.lines[app::InverseYLine]),
                      app::IsCheckedLine(c.lines[app::InverseZLine])};
    c.plan.limitsDisabled = app::IsCheckedLine(c.lines[app::DisableLimitsLine]);
    c.speeds.overrideGcode = app::IsCheckedLine(c.lines[app::OverrideLine]);
    c.speeds.travelSpeedText = c.lines[app::TravelSpeedLine];
    c.speeds.cutSpeedText = c.lines[app::CutSpeedLine];
    c.speeds.Prepare();
    return c;
}

void ExpectSamePrograms(const gcode::Program& a, const gcode::Program& b, const char* what) {
    Check(a.LineCount() == b.LineCount(), what, "row count");
    Check(a.TempLineCount == b.TempLineCount, what, "kept line count");
    Check(a.XExtent.Shown() == b.XExtent.Shown(), what, "X extent");
    Check(a.YExtent.Shown() == b.YExtent.Shown(), what, "Y extent");
    for (std::size_t row = 0; row < a.LineCount(); ++row) {
        for (int column = 0; column < gcode::ProgramColumns; ++column) {
            Check(a.CellText(row, column) == b.CellText(row, column), what,
                  "row " + std::to_string(row) + " column " + std::to_string(column));
        }
    }
}

// The slices the dry run plans while the file is read hold the program's rows, cells and arcs,
// in order, and nothing else.
void ExpectSlicesOf(const gcode::Program& program, const std::vector<gcode::Program>& slices) {
    std::size_t row = 0;
    for (const gcode::Program& slice : slices) {
        for (std::size_t r = 0; r < slice.LineCount(); ++r, ++row) {
            const std::string at = "row " + std::to_string(row);
            Check(row < program.LineCount(), "slices: no more rows than the program", at);
            for (int column = 0; column < gcode::ProgramColumns; ++column) {
                Check(slice.CellText(r, column) == program.CellText(row, column), "slices: cells",
                      at);
            }
            const gcode::Arc* a = slice.ArcOf(r);
            const gcode::Arc* b = program.ArcOf(row);
            Check((a == nullptr) == (b == nullptr) && (a == nullptr || *a == *b), "slices: arcs",
                  at);
        }
    }
    Check(row == program.LineCount(), "slices: every row of a program the reader reads");
}

// The load as the window does it: the file in chunks of sizes drawn from the input, the working
// copy's text taken on the way; the slices as the dry run takes them.
gcode::Program LoadInChunks(std::string_view file, const gcode::LoadSettings& settings,
                            std::optional<gcode::LoadRefusal>& refusal, std::string& kept) {
    fuzz::SplitSizes sizes(fuzz::HashOf(file));
    gcode::ProgramLoad load(settings);
    std::vector<gcode::Program> slices;
    // The window takes the original loader's rows too, starting again at a change of dialect.
    const bool eitherDialect = sizes.Next(2) == 2;
    load.SliceRows(
        [&](gcode::Program slice) {
            if (!slices.empty() && slices.back().dialect != slice.dialect) {
                slices.clear();
            }
            slices.push_back(std::move(slice));
        },
        sizes.Next(7), eitherDialect);
    for (std::size_t at = 0; at < file.size() && !load.Refusal();) {
        const std::size_t n = sizes.Next(64);
        load.Feed(file.substr(at, n), &kept);
        at += n;
    }
    load.Finish(&kept);
    refusal = load.Refusal();
    if (refusal) {
        return gcode::Program();
    }
    gcode::Program program = load.TakeProgram();
    if (!slices.empty()) {
        Check(eitherDialect || program.dialect == gcode::Dialect::Reader,
              "slices: only of the reader's rows");
        Check(slices.back().dialect == program.dialect, "slices: of the program chosen");
        ExpectSlicesOf(program, slices);
    } else {
        Check(!eitherDialect || program.LineCount() == 0, "slices: of every program");
    }
    return program;
}

void ExpectSameMoves(const motion::PlannedMove& a, const motion::PlannedMove& b, std::size_t row) {
    const std::string at = "row " + std::to_string(row);
    Check(a.error.has_value() == b.error.has_value(), "prepared vs one-shot: refusal", at);
    if (a.error) {
        Check(a.error->kind == b.error->kind && a.error->message == b.error->message,
              "prepared vs one-shot: refusal words",
              at + ": " + a.error->message + " | " + b.error->message);
    }
    for (const motion::Axis axis : motion::kAxes) {
        const motion::AxisState& x = a.after[axis];
        const motion::AxisState& y = b.after[axis];
        Check(x.positionText == y.positionText && x.direction == y.direction &&
                  x.positionMm == y.positionMm,
              "prepared vs one-shot: position", at);
        const auto& ea = a.echoes[motion::index(axis)];
        const auto& eb = b.echoes[motion::index(axis)];
        Check(ea.has_value() == eb.has_value(), "prepared vs one-shot: echo", at);
        if (ea) {
            Check(ea->distanceText == eb->distanceText && ea->moved == eb->moved &&
                      ea->direction == eb->direction,
                  "prepared vs one-shot: echo text", at);
        }
    }
    const motion::MoveReport& r = a.report;
    const motion::MoveReport& s = b.report;
    Check(r.steps == s.steps && r.stepPeriod == s.stepPeriod && r.directions == s.directions &&
              r.rapid == s.rapid && r.limitsDisabled == s.limitsDisabled &&
              r.reportCount == s.reportCount,
          "prepared vs one-shot: report", at);
}

// Every vertex of an arc row lies on its arc: within the tolerance, and the rounding of a
// thousandth on each plane axis, of the radius at the centre (a spiral's between its two radii).
void ExpectVerticesOnTheArc(const gcode::Program& program, std::size_t row,
                            const motion::MoveReport& report, double toleranceMm) {
    const gcode::Arc* arc = program.ArcOf(row);
    if (!arc || !report.followsPath) {
        return;
    }
    std::size_t u = 0;
    std::size_t v = 1;
    if (arc->plane == gcode::Plane::ZX) {
        u = 2;
        v = 0;
    } else if (arc->plane == gcode::Plane::YZ) {
        u = 1;
        v = 2;
    }
    const double slack = toleranceMm + 0.00071 + 1e-9;
    const double low = std::min(arc->startRadius, arc->endRadius) - slack;
    const double high = std::max(arc->startRadius, arc->endRadius) + slack;
    for (const motion::MoveReport::Part& part : report.parts) {
        if (!part.shownAfter[u] || !part.shownAfter[v]) {
            continue; // ends inside a thousandth, or this axis did not move in it
        }
        const double du = static_cast<double>(*part.shownAfter[u]) / 1000.0 - arc->centreU;
        const double dv = static_cast<double>(*part.shownAfter[v]) / 1000.0 - arc->centreV;
        const double r = std::hypot(du, dv);
        Check(r >= low && r <= high, "every vertex of an arc lies on it",
              "row " + std::to_string(row) + " radius " + std::to_string(r));
    }
}

// floor(c * m / n) in 128 bits, against which the planner's 64-bit split is checked.
std::uint64_t WideFloor(std::uint64_t c, std::uint64_t m, std::uint64_t n) {
    return static_cast<std::uint64_t>(static_cast<unsigned __int128>(c) * m / n);
}

// Adds the signed counts of every report of a move to `sent`: each report's counts with the
// way its own bits say (an arc's reports go every way). Walks at most 256 reports; a longer move
// adds what its parts' step positions say and has three of its reports checked against them.
void AddUpParts(const motion::MoveReport& report, const std::array<bool, 3>& inverse,
                std::array<Wide, 3>& sent, std::size_t row) {
    const std::string at = "row " + std::to_string(row);
    const std::uint64_t n = report.reportCount;
    Check(n >= 1 && n <= motion::MaxReportsPerMove, "report count within the limit", at);
    const auto signedCounts = [&](const encoding::MotionFields& f) {
        const std::uint32_t counts[3] = {f.xSteps, f.ySteps, f.zSteps};
        const bool bits[3] = {f.xDirection, f.yDirection, f.zDirection};
        std::array<Wide, 3> out{};
        for (std::size_t a = 0; a < 3; ++a) {
            // X and Y move positive with the bit as sent (inversion undone) set, Z with it clear.
            const bool bit = bits[a] != inverse[a];
            out[a] = (a < 2 ? bit : !bit) ? Wide(counts[a]) : -Wide(counts[a]);
        }
        return out;
    };
    if (n > 256) {
        Check(!report.parts.empty(), "a long move keeps its parts", at);
        for (std::size_t a = 0; a < 3; ++a) {
            sent[a] += Wide(report.parts.back().stepsAfter[a]) - Wide(report.stepsBefore[a]);
        }
        for (const std::uint64_t k : {std::uint64_t{0}, n / 3, n - 1}) {
            const auto part = report.Report(k);
            Check(part.has_value(), "every part of a planned move encodes", at);
            const std::array<Wide, 3> counts = signedCounts(part->fields());
            for (const motion::Axis axis : motion::kAxes) {
                const std::size_t a = motion::index(axis);
                const Wide before =
                    k == 0 ? report.stepsBefore[a] : report.parts[k - 1].stepsAfter[a];
                Check(counts[a] == Wide(report.parts[k].stepsAfter[a]) - before ||
                          (counts[a] == 0 && report.parts[k].stepsAfter[a] == before),
                      "a part's count is what the axis travels in it", at);
            }
        }
        return;
    }
    std::array<std::uint64_t, 3> travel{};
    for (std::uint64_t k = 0; k < n; ++k) {
        const auto part = report.Report(k);
        Check(part.has_value(), "every part of a planned move encodes", at);
        const encoding::MotionFields f = part->fields();
        const std::array<Wide, 3> counts = signedCounts(f);
        for (std::size_t a = 0; a < 3; ++a) {
            sent[a] += counts[a];
        }
        travel[0] += f.xSteps;
        travel[1] += f.ySteps;
        travel[2] += f.zSteps;
    }
    Check(travel == report.steps, "the parts add up to the whole counts", at);
}

// The counts sent so far against S of the displays, on every axis.
void ExpectDisplaysWhereSent(const Choice& choice, const motion::MachineState& state,
                             const std::array<Wide, 3>& sent, std::size_t row) {
    if (choice.pulses->denominator == 0) {
        return;
    }
    for (const motion::Axis axis : motion::kAxes) {
        std::int64_t shown = 0;
        if (!encoding::ThousandthsOfShownPosition(state[axis].positionText, shown)) {
            return; // beyond counting: such a move is refused unless nothing moves
        }
        Check(sent[motion::index(axis)] == StepsAt(*choice.pulses, shown),
              "the counts add up to S of the displays",
              "row " + std::to_string(row) + " axis " + std::string(1, motion::letter(axis)));
    }
}

void PlanBothWays(const gcode::Program& program, const Choice& choice) {
    const motion::PreparedPlanSettings prepared(choice.plan);
    motion::MachineState state;
    motion::ClearDirections(state);
    motion::ProgramRowMove reused;
    std::array<Wide, 3> sent{};
    const std::size_t rows = std::min(program.LineCount(), PlannedRowsChecked);
    for (std::size_t row = 0; row < rows; ++row) {
        motion::PlanProgramRow(program, row, state, prepared, choice.speeds, reused);
        const motion::ProgramRowMove once =
            motion::PlanProgramRow(program, row, state, choice.plan, choice.speeds);
        Check(reused.rapid == once.rapid, "prepared vs one-shot: motion code");
        ExpectSameMoves(reused.planned, once.planned, row);
        if (reused.planned.error) {
            return; // the run stops at a refusal
        }
        AddUpParts(reused.planned.report, choice.plan.inverse, sent, row);
        ExpectVerticesOnTheArc(program, row, reused.planned.report, choice.plan.arcToleranceMm);
        state = reused.planned.after;
        ExpectDisplaysWhereSent(choice, state, sent, row);
    }
}

// The split of any count into any number of parts, straight from the input's first bytes.
void SplitRawNumbers(const std::uint8_t* data, std::size_t size) {
    if (size < 24) {
        return;
    }
    std::uint64_t v[3] = {0, 0, 0};
    for (int i = 0; i < 24; ++i) {
        v[i / 8] = (v[i / 8] << 8) | data[i];
    }
    const std::uint64_t c = v[0];
    const std::uint64_t n = v[2] == 0 ? 1 : v[2];
    const std::uint64_t k = v[1] % n;
    if (n > 1) {
        Check(motion::SplitPart(c, k, n) == WideFloor(c, k + 1, n) - WideFloor(c, k, n),
              "split part of raw numbers");
    }
}

// Takes the dry run's output as it comes, without keeping it: a row split 65,536 times is
// megabytes of JSON. It keeps the first line and checks every byte of a summary.
class CheckedSink : public tools::OutputSink {
public:
    explicit CheckedSink(bool summary) : summary_(summary) {}

    void Write(std::string_view text) override {
        if (text.empty()) {
            return;
        }
        if (firstLine_.find('\n') == std::string::npos) {
            firstLine_.append(text.substr(0, 200));
        }
        if (summary_) {
            for (const char ch : text) {
                const auto c = static_cast<unsigned char>(ch);
                Check(c == '\n' || (c >= 0x20 && c != 0x7F), "no control byte in the summary");
            }
        }
        bytes_ += text.size();
        last_ = text.back();
    }

    const std::string& FirstLine() const { return firstLine_; }
    std::size_t Bytes() const { return bytes_; }
    bool EndsWithLineEnd() const { return bytes_ == 0 || last_ == '\n'; }

private:
    bool summary_;
    std::string firstLine_;
    std::size_t bytes_ = 0;
    char last_ = 0;
};

void RunTheDryRun(std::string_view file, const Choice& choice, std::size_t rows,
                  const std::optional<gcode::LoadRefusal>& refusal) {
    static fuzz::ScratchFile gcodeFile("plan.nc");
    static fuzz::ScratchFile configFile("plan.cfg");
    tools::PlanOptions options;
    options.gcodePath = gcodeFile.Write(file).string();
    options.configPath = configFile.Write(app::SettingsFileText(choice.lines)).string();

    // One of the two outputs per input, by its length: planning twice would halve the runs.
    options.json = file.size() % 2 == 0;
    CheckedSink out(!options.json);
    tools::StringSink err;
    const int status = tools::RunPlan(options, out, err);
    Check(status == tools::PlanExitDone || status == tools::PlanExitRefused ||
              status == tools::PlanExitUsage,
          "exit status");
    const bool notGcode = refusal && refusal->notGcode;
    Check((status == tools::PlanExitUsage) == notGcode,
          "the dry run takes a file for no G-code exactly when the load does", err.text_);
    if (status == tools::PlanExitUsage) {
        Check(out.Bytes() == 0, "nothing written for a file that is no G-code");
        return;
    }
    Check(out.EndsWithLineEnd(), "output ends with a line end");
    if (refusal) {
        Check(status == tools::PlanExitRefused, "a refused file is exit status 1");
        const std::string line = "{\"line\": " + std::to_string(refusal->fileLine) + ",";
        Check(!options.json || out.FirstLine().compare(0, line.size(), line) == 0,
              "a refused file names its line");
        return;
    }
    if (options.json) {
        const std::string header = "{\"lines\": " + std::to_string(rows) + ",";
        Check(out.FirstLine().compare(0, header.size(), header) == 0,
              "the file route keeps the rows the whole-file load keeps");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    const Choice choice = ChoiceOf(size > 0 ? data[size - 1] : 0, size);
    const gcode::LoadSettings settings{
        {choice.lines[app::CutSpeedLine], choice.lines[app::TravelSpeedLine]},
        choice.plan.arcToleranceMm,
        false};

    std::optional<gcode::LoadRefusal> refusal;
    const gcode::Program whole = gcode::LoadGcode(file, settings, &refusal);
    std::optional<gcode::LoadRefusal> chunkedRefusal;
    std::string kept;
    const gcode::Program chunked = LoadInChunks(file, settings, chunkedRefusal, kept);
    ExpectSamePrograms(whole, chunked, "whole-file vs chunked load");
    Check(whole.dialect == chunked.dialect, "whole-file vs chunked: the same way of reading");
    Check(refusal.has_value() == chunkedRefusal.has_value() &&
              (!refusal || refusal->fileLine == chunkedRefusal->fileLine),
          "whole-file vs chunked refusal");
    // The original filter alone, as --dialect design reads: its own passes give the same rows.
    std::optional<gcode::LoadRefusal> designRefusal;
    const gcode::Program design = gcode::LoadGcode(
        file, gcode::LoadSettings{settings.feeds, settings.arcToleranceMm, true}, &designRefusal);
    if (!designRefusal) {
        ExpectSamePrograms(design, gcode::LoadProgram(file, settings.feeds), "the original filter");
    }

    PlanBothWays(whole, choice);
    SplitRawNumbers(data, size);
    RunTheDryRun(file, choice, whole.LineCount(), refusal);
    return 0;
}

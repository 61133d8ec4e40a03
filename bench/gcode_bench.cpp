// Loader benchmarks over seeded CAM-style files of 10 thousand to 1 million lines.
#include "bench/cam_gcode.h"
#include "gcode/loader.h"
#include "motion/program_run.h"
#include "motion/run_stepper.h"

#include <benchmark/benchmark.h>

#include <map>
#include <string>

namespace {

const std::string& CamFile(std::size_t lines) {
    static std::map<std::size_t, std::string> files;
    auto it = files.find(lines);
    if (it == files.end()) {
        it = files.emplace(lines, bench::GenerateCamGcode(lines, 1)).first;
    }
    return it->second;
}

const gcode::FeedDefaults Feeds{"500", "1000"};

void BM_LoadProgram(benchmark::State& state) {
    const std::string& file = CamFile(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        gcode::Program program = gcode::LoadProgram(file, Feeds);
        benchmark::DoNotOptimize(program.LineCount());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(BM_LoadProgram)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// The window's route: pass 1 into the working-copy text, pass 2 over that text, 1 MB at a time.
void BM_LoadInChunks(benchmark::State& state) {
    const std::string& file = CamFile(static_cast<std::size_t>(state.range(0)));
    constexpr std::size_t chunk = 1 << 20;
    for (auto _ : state) {
        gcode::LineFilter filter;
        std::string kept;
        kept.reserve(file.size());
        for (std::size_t at = 0; at < file.size(); at += chunk) {
            filter.Feed(std::string_view(file).substr(at, chunk), kept);
        }
        filter.Finish(kept);
        gcode::ProgramBuilder builder(Feeds, filter.TempLineCount());
        for (std::size_t at = 0; at < kept.size(); at += chunk) {
            builder.Feed(std::string_view(kept).substr(at, chunk));
        }
        gcode::Program program = builder.Finish();
        benchmark::DoNotOptimize(program.LineCount());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LoadInChunks)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// What the table does while it scrolls: every cell text of every row, made on demand.
void BM_AllCellTexts(benchmark::State& state) {
    const gcode::Program program =
        gcode::LoadProgram(CamFile(static_cast<std::size_t>(state.range(0))), Feeds);
    std::string text;
    for (auto _ : state) {
        std::size_t total = 0;
        for (std::size_t r = 0; r < program.LineCount(); ++r) {
            for (int c = 0; c < gcode::ProgramColumns; ++c) {
                text.clear();
                program.AppendCellText(r, c, text);
                total += text.size();
            }
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AllCellTexts)->Arg(100'000)->Unit(benchmark::kMillisecond);

} // namespace

// The dry run's work per row: cells to targets and speed, the move planned, its reports made.
void BM_PlanProgramRows(benchmark::State& state) {
    const gcode::Program program =
        gcode::LoadProgram(CamFile(static_cast<std::size_t>(state.range(0))), Feeds);
    const motion::PlanSettings settings;
    motion::RunSpeeds speeds;
    speeds.travelSpeedText = "1000";
    speeds.cutSpeedText = "500";
    speeds.Prepare();
    for (auto _ : state) {
        motion::MachineState machine;
        motion::ClearDirections(machine);
        std::uint64_t bytes = 0;
        for (std::size_t r = 0; r < program.LineCount(); ++r) {
            motion::ProgramRowMove move =
                motion::PlanProgramRow(program, r, machine, settings, speeds);
            machine = std::move(move.planned.after);
            if (const auto report = move.planned.report.Report(0)) {
                bytes += report->bytes()[11];
            }
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PlanProgramRows)->Arg(100'000)->Unit(benchmark::kMillisecond);

// The same as quorvane-plan runs it: settings read once, the rows stepped through as a run.
void BM_PlanProgramRowsPrepared(benchmark::State& state) {
    const gcode::Program program =
        gcode::LoadProgram(CamFile(static_cast<std::size_t>(state.range(0))), Feeds);
    const motion::PreparedPlanSettings settings{motion::PlanSettings{}};
    motion::RunSpeeds speeds;
    speeds.travelSpeedText = "1000";
    speeds.cutSpeedText = "500";
    speeds.Prepare();
    for (auto _ : state) {
        motion::MachineState machine;
        gcode::PlotPen pen;
        motion::RunStepper run;
        run.Begin(&program, motion::RunMode::Live, machine, pen, false);
        std::uint64_t bytes = 0;
        while (run.HasNext()) {
            const motion::ProgramRowMove& move = run.PlanNext(settings, speeds);
            if (const auto report = move.planned.report.Report(0)) {
                bytes += report->bytes()[11];
            }
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PlanProgramRowsPrepared)->Arg(100'000)->Unit(benchmark::kMillisecond);

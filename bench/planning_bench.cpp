// Planning and encoding one program line: three axes moving, targets and feed read from cell
// texts as a run reads them, positions and distances formatted, the report built and echoed.
#include "encoding/number_text.h"
#include "motion/planning.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct Row {
    std::string x, y, z, feed; // cell texts: "X0012.500 " ... "F0500.000 "
};

// A cutting-like path: small steps around the origin, every axis moving on every line.
std::vector<Row> program() {
    std::mt19937 random(2006);
    std::uniform_real_distribution<double> step(0.5, 20.0);
    std::vector<Row> rows;
    double x = 0, y = 0, z = 0;
    for (int i = 0; i < 1024; ++i) {
        x += (i % 2 == 0 ? 1 : -1) * step(random);
        y += (i % 3 == 0 ? -1 : 1) * step(random);
        z = (i % 2 == 0 ? -1.5 : 2.0);
        // A char in front: GCC 12 at -O3 warns (-Wrestrict, falsely) on a C string inserted there.
        rows.push_back({'X' + encoding::Format(x) + ' ', 'Y' + encoding::Format(y) + ' ',
                        'Z' + encoding::Format(z) + ' ', "F0500.000 "});
    }
    return rows;
}

std::string_view body(const std::string& cell) {
    return std::string_view(cell).substr(1);
}

void planLines(benchmark::State& bench, bool withEchoes) {
    const std::vector<Row> rows = program();
    const motion::PlanSettings settings;
    motion::MachineState state;
    std::size_t i = 0;
    for (auto _ : bench) {
        const Row& row = rows[i];
        i = (i + 1) % rows.size();
        const motion::MoveRequest request{
            {body(row.x), body(row.y), body(row.z)}, body(row.feed), false};
        motion::PlannedMove move = motion::PlanMove(state, settings, request);
        const std::optional<encoding::MotionReport> report = move.report.Report(0);
        benchmark::DoNotOptimize(report);
        if (withEchoes) {
            std::string packet = report->Packet();
            std::string binary = move.report.XBinaryText();
            std::string steps = move.report.StepsText(motion::Axis::X);
            benchmark::DoNotOptimize(packet);
            benchmark::DoNotOptimize(binary);
            benchmark::DoNotOptimize(steps);
        }
        state = std::move(move.after);
    }
    bench.SetItemsProcessed(static_cast<std::int64_t>(bench.iterations()));
}

void BM_PlanLine(benchmark::State& bench) {
    planLines(bench, false);
}
void BM_PlanLineWithEchoes(benchmark::State& bench) {
    planLines(bench, true);
}

} // namespace

BENCHMARK(BM_PlanLine);
BENCHMARK(BM_PlanLineWithEchoes);

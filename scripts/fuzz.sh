#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/ for a bounded time.
#
#   scripts/fuzz.sh TARGET SECONDS [LIBFUZZER OPTIONS...]
#   scripts/fuzz.sh all SECONDS [LIBFUZZER OPTIONS...]
#
# TARGET is one of:
#   gcode_plan     the G-code loader, the planner and the dry run's JSON and summary, with the
#                  whole-file, chunked and file loads, prepared and one-shot planning and the
#                  split parts of a move checked against each other
#   settings_file  the settings reader, every line through the number texts
#   rtf_reader     the help text reader (its output must be valid UTF-8)
#   status_report  the status report and motion report decoders
# `all` runs each of them for SECONDS in turn. SECONDS 0 runs without a time limit; further
# options go to libFuzzer as they are (-runs=10000000 stops after that many executions).
#
# The first run installs clang-14 and libclang-rt-14-dev when they are missing (as
# scripts/setup.sh installs the build's packages), then configures build-fuzz/ with clang-14,
# QUORVANE_FUZZ=ON (every target built with ASan, UBSan and the fuzzer's coverage) and builds
# only the fuzz targets. Each target runs, at nice 10, on its own copy of its seed corpus in
# build-fuzz/corpus/TARGET (seeded from fuzz/corpus/TARGET and kept, so later runs go on from
# what earlier runs found); an input that crashes is written to build-fuzz/crashes/TARGET/ and
# the script exits non-zero. Replay one with build-fuzz/fuzz/fuzz_TARGET FILE.
#
# QUORVANE_JOBS sets the build's parallel jobs (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(gcode_plan settings_file rtf_reader status_report)

usage() {
    echo "usage: scripts/fuzz.sh TARGET|all SECONDS [LIBFUZZER OPTIONS...]" >&2
    echo "targets: ${targets[*]}" >&2
    exit 2
}

[ $# -ge 2 ] || usage
which="$1"
seconds="$2"
shift 2
[[ "$seconds" =~ ^[0-9]+$ ]] || usage
if [ "$which" = all ]; then
    chosen=("${targets[@]}")
else
    chosen=()
    for t in "${targets[@]}"; do
        [ "$t" = "$which" ] && chosen=("$t")
    done
    [ ${#chosen[@]} -eq 1 ] || usage
fi

# The build's own packages, and the compiler with its fuzzer and sanitizer runtimes.
bash scripts/install_packages.sh scripts/packages.txt scripts/fuzz-packages.txt

build=build-fuzz
if ! grep -qs '^QUORVANE_FUZZ:BOOL=ON' "$build/CMakeCache.txt"; then
    CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUORVANE_FUZZ=ON -DQUORVANE_BUILD_TESTS=OFF -DQUORVANE_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j "${QUORVANE_JOBS:-2}" --target "${chosen[@]/#/fuzz_}"

failed=()
for t in "${chosen[@]}"; do
    corpus="$build/corpus/$t"
    crashes="$build/crashes/$t"
    mkdir -p "$corpus" "$crashes"
    cp -n fuzz/corpus/"$t"/* "$corpus"/
    echo "== $t: ${seconds} s"
    log="$build/fuzz-$t.log"
    status=0
    nice -n 10 "$build/fuzz/fuzz_$t" "$corpus" -max_total_time="$seconds" \
        -artifact_prefix="$crashes/" -print_final_stats=1 "$@" >"$log" 2>&1 || status=$?
    grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec)' "$log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log"
        echo "== $t FAILED (exit $status); the input is in $crashes/, the log in $log"
        failed+=("$t")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz targets that failed: ${failed[*]}"
    exit 1
fi

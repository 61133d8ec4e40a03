#!/usr/bin/env bash
# The whole test suite once more, built with AddressSanitizer and UndefinedBehaviorSanitizer;
# the first fault ends the run (-fno-sanitize-recover). Needs what scripts/setup.sh installs.
#   bash scripts/sanitize.sh          builds into build-asan/ and runs every test there
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVANE_BUILD_BENCH=OFF \
    -DQUORVANE_WERROR=ON -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j2
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Leaks inside the system's font and graphics libraries are theirs, not ours.
export LSAN_OPTIONS=suppressions=$(pwd)/scripts/lsan.supp:print_suppressions=0
cd build-asan
ctest --output-on-failure -j2 --no-tests=error

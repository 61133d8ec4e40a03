#!/usr/bin/env bash
# Release (-O3) and Debug builds of everything with every warning an error, so a new warning
# fails CI. Builds into build-release/ and build-debug/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
for type in Release Debug; do
    dir=build-$(echo "$type" | tr '[:upper:]' '[:lower:]')
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DQUORVANE_WERROR=ON >/dev/null
    cmake --build "$dir" -j2
done

#!/usr/bin/env bash
# Sets up, builds and runs every test. Window tests use Qt's offscreen platform, so no display
# is needed. Fails when a test fails or when no test ran.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
ctest --preset default

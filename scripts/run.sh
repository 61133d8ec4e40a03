#!/usr/bin/env bash
# Sets up, builds and starts the program. Extra arguments choose the program:
#   scripts/run.sh            the controller for the real board (quorvane)
#   scripts/run.sh virtual    the same program driving the in-process virtual board; arguments
#                             after "virtual" are its options (--help lists them)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
program=build/quorvane
options=()
if [ "${1:-}" = virtual ] && [ -x build/quorvane-virtual ]; then
    program=build/quorvane-virtual
    shift
    options=("$@")
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting under xvfb-run (nothing will be visible)." >&2
    exec xvfb-run -a "$program" "${options[@]}"
fi
exec "$program" "${options[@]}"

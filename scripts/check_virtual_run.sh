#!/usr/bin/env bash
# A whole run checked from outside, as an operator would do it: quorvane-virtual, with a board
# that answers at once and records every report it receives, is started under Xvfb; the file
# is loaded with Ctrl+O (typed into the open dialog) and run with Ctrl+R, all with xdotool.
# The record must be exactly the reports quorvane-plan --json prints for the same file.
#
#   bash scripts/check_virtual_run.sh [GCODEFILE]
#
# Without a file, a seeded CAM-style program of 2,000 lines is generated. Prints "same" and
# exits 0, or shows the first difference and exits 1.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/xdrive.sh
prepare_program_folder
if [ -n "${1:-}" ]; then
    cp "$1" "$work/part.nc"
else
    build/bench/gen_cam_gcode 2000 5 >"$work/part.nc"
fi

# Every 12-byte report array of the dry run, one per line.
build/tools/quorvane-plan --config "$work/quorvane.cfg" --json "$work/part.nc" |
    grep -o '\[[0-9]*\(, [0-9]*\)\{11\}\]' >"$work/expected.txt" || true
expected=$(wc -l <"$work/expected.txt")
echo "the dry run plans $expected reports"

cat >"$work/drive.sh" <<'EOF'
set -euo pipefail
work=$1
expected=$2
source "$PWD/scripts/xdrive.sh"
"$work/quorvane-virtual" --speed 0 --record "$work/record.txt" >"$work/program.log" 2>&1 &
program=$!
window_of "Quorvane Gcode" >/dev/null
sleep 0.5
open_program "$work/part.nc"
# Run is enabled once the load's preview is done; until then Ctrl+R does nothing.
for _ in $(seq 1 200); do
    [ -s "$work/record.txt" ] && break
    to_window "Quorvane Gcode" key ctrl+r || true
    sleep 0.3
done
last=-1
for _ in $(seq 1 600); do
    now=$(wc -l <"$work/record.txt" 2>/dev/null || echo 0)
    [ "$now" -ge "$expected" ] && [ "$now" -eq "$last" ] && break
    last=$now
    sleep 0.2
done
kill "$program" 2>/dev/null || true
ended_as_asked "$program" "$work/program.log"
EOF
xvfb-run -a -s "-screen 0 1600x1000x24" bash ${DRIVE_TRACE:+-x} "$work/drive.sh" "$work" "$expected"

received=$(wc -l <"$work/record.txt")
echo "the board received $received reports"
if cmp -s "$work/expected.txt" "$work/record.txt"; then
    echo "same"
    exit 0
fi
echo "DIFFERENT (dry run < > board):"
diff "$work/expected.txt" "$work/record.txt" | head -n 10
exit 1

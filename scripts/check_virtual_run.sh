#!/usr/bin/env bash
# A whole run checked from outside, as an operator would do it: quorvane-virtual, with a board
# that answers at once and records every report it receives, is started under Xvfb; the file
# is loaded with Ctrl+O (typed into the open dialog) and run with Ctrl+R, all with xdotool.
# The record must be exactly the reports quorvane-plan --json prints for the same file.
# Then a GOTO is typed and clicked, X is jogged up and Z down for a second each, and a last
# GOTO goes to X -7.777 Y 0.05 Z 0.333: everything the board received must add up, on every
# axis, to pulses per mm x that position, rounded toward zero (scripts/step_drift.py).
#
#   bash scripts/check_virtual_run.sh [GCODEFILE]
#
# Without a file, a seeded CAM-style program of 2,000 lines is generated. Prints "same" and
# the drift figures and exits 0, or shows the first difference and exits 1.
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
wait_for_record() {
    local last=-1 now
    for _ in $(seq 1 600); do
        now=$(wc -l <"$work/record.txt" 2>/dev/null || echo 0)
        [ "$now" -ge "$1" ] && [ "$now" -eq "$last" ] && return 0
        last=$now
        sleep 0.2
    done
}
wait_for_record "$expected"

# Places in the window (1440 x 880, as it opens on this screen) of the controls used below.
goto_to() {
    local box
    for box in "1084 177 $1" "1187 177 $2" "1293 177 $3"; do
        set -- $box
        to_window "Quorvane Gcode" mousemove 0 0 # focus
        xdotool mousemove --window "$(window_of "Quorvane Gcode")" "$1" "$2" click --repeat 3 1
        xdotool key ctrl+a
        xdotool type -- "$3"
    done
    xdotool mousemove --window "$(window_of "Quorvane Gcode")" 1381 177 click 1
    sleep 1
}
hold_jog() {
    xdotool mousemove --window "$(window_of "Quorvane Gcode")" "$1" "$2" mousedown 1
    sleep 1
    xdotool mouseup 1
    sleep 0.5
}
goto_to 12.3456 -3.21 1.5
hold_jog 1179 313 # JogButton7: X up
hold_jog 1240 368 # JogButton10: Z down
goto_to -7.777 0.05 0.333
kill "$program" 2>/dev/null || true
ended_as_asked "$program" "$work/program.log"
EOF
virtual_screen 1600x1000x24 bash ${DRIVE_TRACE:+-x} "$work/drive.sh" "$work" "$expected"

received=$(wc -l <"$work/record.txt")
echo "the board received $received reports, $((received - expected)) of them after the run"
head -n "$expected" "$work/record.txt" >"$work/run.txt"
if ! cmp -s "$work/expected.txt" "$work/run.txt"; then
    echo "DIFFERENT (dry run < > board):"
    diff "$work/expected.txt" "$work/run.txt" | head -n 10
    exit 1
fi
echo "same"
python3 scripts/step_drift.py --record --final -0007.777 0000.050 0000.333 "$work/record.txt"

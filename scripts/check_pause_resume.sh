#!/usr/bin/env bash
# Pause and the crash journal checked from outside, as an operator would do it, with
# quorvane-virtual under Xvfb driven by xdotool:
#   1. Ctrl+O, Ctrl+R, wait, Ctrl+P, wait, Ctrl+R: the board's record must be exactly the
#      reports quorvane-plan --json prints for the file, each once, in order.
#   2. Ctrl+O, Ctrl+R, then the program is killed with SIGKILL in the middle of the run and
#      started again; Return accepts the offer to go on, the displays and the approach. The two
#      records together must hold every report of the dry run in order: the second starts with
#      the approach (at most three moves), then goes on from a row no later than the one the
#      first record ended in, repeating at most a quarter of a second of rows.
#
#   bash scripts/check_pause_resume.sh [GCODEFILE]
#
# Without a file, a seeded CAM-style program of 400 lines is generated. Prints what it found
# and exits 0, or says what differs and exits 1.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/xdrive.sh
prepare_program_folder
if [ -n "${1:-}" ]; then
    cp "$1" "$work/part.nc"
else
    build/bench/gen_cam_gcode 400 11 >"$work/part.nc"
fi
build/tools/quorvane-plan --config "$work/quorvane.cfg" --json "$work/part.nc" |
    grep -o '\[[0-9]*\(, [0-9]*\)\{11\}\]' >"$work/expected.txt" || true
echo "the dry run plans $(wc -l <"$work/expected.txt") reports"

cat >"$work/drive.sh" <<'DRIVE'
set -euo pipefail
work=$1
source "$PWD/scripts/xdrive.sh"
expected=$(wc -l <"$work/expected.txt")
start() { # RECORD
    "$work/quorvane-virtual" --speed 0.2 --record "$1" >>"$work/program.log" 2>&1 &
    program=$!
    window_of "Quorvane Gcode" >/dev/null
    sleep 0.5
}
lines() { wc -l <"$1" 2>/dev/null || echo 0; }
wait_until() { # RECORD COUNT: until it holds COUNT lines, or a minute has gone
    for _ in $(seq 1 300); do
        [ "$(lines "$1")" -ge "$2" ] && return 0
        sleep 0.2
    done
}
run_when_loaded() { # RECORD: Ctrl+R until the board receives something
    for _ in $(seq 1 100); do
        [ -s "$1" ] && return 0
        to_window "Quorvane Gcode" key ctrl+r || true
        sleep 0.3
    done
}

# 1. Pause and go on.
start "$work/paused.txt"
open_program "$work/part.nc"
run_when_loaded "$work/paused.txt"
sleep 1.5
to_window "Quorvane Gcode" key ctrl+p
sleep 1.5
held=$(lines "$work/paused.txt")
sleep 1
[ "$(lines "$work/paused.txt")" -eq "$held" ] || echo "the board received more while paused" >&2
echo "paused after $held reports"
to_window "Quorvane Gcode" key ctrl+r
wait_until "$work/paused.txt" "$expected"
sleep 0.5
kill "$program" 2>/dev/null || true
ended_as_asked "$program" "$work/program.log"

# 2. Killed in the middle of a run, then started again.
start "$work/first.txt"
open_program "$work/part.nc"
run_when_loaded "$work/first.txt"
sleep 2.5
kill -KILL "$program"
wait "$program" 2>/dev/null || true
echo "killed after $(lines "$work/first.txt") reports"
start "$work/second.txt"
for _ in 1 2 3; do # the offer, the displays, the approach: one box after the other
    sleep 1.5
    w=$(window_of "^Quorvane$")
    xdotool windowfocus --sync "$w" key Return
done
import -window root "$work/resumed.png"
wait_until "$work/second.txt" 1
sleep 1
last=-1
while [ "$(lines "$work/second.txt")" -ne "$last" ]; do
    last=$(lines "$work/second.txt")
    sleep 1
done
kill "$program" 2>/dev/null || true
ended_as_asked "$program" "$work/program.log"
DRIVE
virtual_screen 1600x1000x24 bash "$work/drive.sh" "$work"

status=0
if cmp -s "$work/expected.txt" "$work/paused.txt"; then
    echo "paused run: same as the dry run"
else
    echo "paused run: DIFFERENT (dry run < > board):"
    diff "$work/expected.txt" "$work/paused.txt" | head -n 10
    status=1
fi
python3 - "$work/expected.txt" "$work/first.txt" "$work/second.txt" <<'PY' || status=1
import sys
expected, first, second = ([l.strip() for l in open(p)] for p in sys.argv[1:])
if first != expected[:len(first)]:
    sys.exit("the first record is not the dry run's start")
for legs in range(0, 4):
    rest = second[legs:]
    start = len(expected) - len(rest)
    if 0 <= start and rest == expected[start:]:
        break
else:
    sys.exit("the second record is not an approach and then the dry run's end")
if start > len(first):
    sys.exit(f"rows skipped: the first record ended at report {len(first)}, "
             f"the second went on from {start}")
print(f"killed after {len(first)} reports; went on after {legs} approach moves from report "
      f"{start}: {len(first) - start} repeated, none skipped")
PY
exit $status

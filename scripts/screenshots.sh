#!/usr/bin/env bash
# The README's screenshots, made under Xvfb: quorvane-virtual on a 1920 x 1080 screen with a
# fresh home folder, first as it starts (docs/main-window.png), then with a program loaded
# (docs/loaded-program.png) and turned in the 3D view (docs/view-3d.png), then in the middle of
# a run with the virtual board's window beside it (docs/virtual-board.png, the whole screen, and
# docs/run-half-way.png, the main window: cut and uncut, the tool), then stopped and asked to run
# from the next line (docs/run-from-here.png, the confirmation over the window), and last a 3D
# surfacing file from the front (docs/surface-front.png).
#
#   bash scripts/screenshots.sh
#
# Builds first (scripts/setup.sh) and installs xdotool and ImageMagick when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/xdrive.sh
prepare_program_folder
mkdir -p "$work/home" docs
build/bench/gen_cam_gcode 600 3 >"$work/pocket.nc"
build/bench/gen_cam_gcode --surface 60000 5 >"$work/surface.nc"

cat >"$work/shoot.sh" <<'SHOOT'
set -euo pipefail
work=$1
docs=$2
source "$3"
export HOME=$work/home
shot() { # WINDOW-TITLE|root FILE
    sleep 1
    if [ "$1" = root ]; then
        import -window root "$2"
    else
        import -window "$(window_of "$1")" "$2"
    fi
}
# A step that fails shows the program's output, which goes with the temporary folder.
trap 'echo "a step failed; the program said:" >&2; cat "$work/program.log" >&2' ERR
# A slow board, so that the run is still going when the last picture is taken.
"$work/quorvane-virtual" --speed 0.2 >"$work/program.log" 2>&1 &
program=$!
window_of "Quorvane Gcode" >/dev/null
shot "Quorvane Gcode" "$docs/main-window.png"
open_program "$work/pocket.nc"
wait_gone "^Please Wait$"
sleep 2 # the preview draws the whole program
shot "Quorvane Gcode" "$docs/loaded-program.png"
to_window "Quorvane Gcode" key alt+4 # the 3D view
shot "Quorvane Gcode" "$docs/view-3d.png"
to_window "Quorvane Gcode" key alt+1
to_window "Quorvane Gcode" key ctrl+r
sleep 6
shot root "$docs/virtual-board.png"
shot "Quorvane Gcode" "$docs/run-half-way.png"
to_window "Quorvane Gcode" key Escape || true
sleep 1.5
answer_message Return # "Run Stopped"
sleep 1
# A row further on, so that the question shows a whole approach.
xdotool mousemove --window "$(window_of "Quorvane Gcode")" 700 330 click 1
sleep 0.5
to_window "Quorvane Gcode" key ctrl+shift+r
sleep 1.5
shot root "$work/confirm.png"
# The main window's part of the screen, with the question over it.
convert "$work/confirm.png" -crop "$(xdotool getwindowgeometry --shell "$(window_of "Quorvane Gcode")" |
    awk -F= '/WIDTH/{w=$2} /HEIGHT/{h=$2} /^X/{x=$2} /^Y/{y=$2} END{print w "x" h "+" x "+" y}')" \
    +repage "$docs/run-from-here.png"
answer_message Escape # not now
open_program "$work/surface.nc"
sleep 1
wait_gone "^Please Wait$"
sleep 2
to_window "Quorvane Gcode" key alt+2 # the front view
shot "Quorvane Gcode" "$docs/surface-front.png"
kill "$program" 2>/dev/null || true
ended_as_asked "$program" "$work/program.log"
SHOOT
virtual_screen 1920x1080x24 bash ${DRIVE_TRACE:+-x} "$work/shoot.sh" "$work" "$PWD/docs" "$PWD/scripts/xdrive.sh"
ls -l docs/*.png

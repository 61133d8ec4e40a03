# Shell functions for driving the program under Xvfb with xdotool, sourced by the scripts that
# check or photograph it from outside.

# Builds the program and installs xdotool and ImageMagick when missing; then makes a program
# folder of its own in a new temporary folder, with settings already there so no first-start
# message opens, and sets `work` to it (removed when the script exits).
prepare_program_folder() {
    bash scripts/setup.sh >/dev/null
    bash scripts/install_packages.sh scripts/desktop-packages.txt
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    # A run's resume journal of its own, never the user's.
    export XDG_STATE_HOME=$work/state
    cp build/quorvane-virtual build/help.rtf "$work/"
    printf '%s\r\n' "$work" 0 0 0 0 0 0 0000.000 0000.000 0000.000 1000 500 800 20 533.33 57150 0 \
        >"$work/quorvane.cfg"
}

# A virtual screen to drive the program on: xvfb-run with a display number of its own. xvfb-run
# -a alone takes the lowest free number, which may be the one a screen that is still going away
# has just given up; under load the program could then find no display there and end.
virtual_screen() { # SCREEN COMMAND...
    local screen=$1
    shift
    xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 $screen" "$@"
}

# The newest visible window of that title (Qt may replace a window while it comes up).
window_of() {
    for _ in $(seq 1 100); do
        w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1 || true)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.1
    done
    return 1
}

# xdotool COMMAND --window (that window) ARGS..., tried again if the window went away meanwhile.
to_window() {
    local title=$1 command=$2
    shift 2
    local w
    for _ in $(seq 1 20); do
        w=$(window_of "$title") || return 1
        # Shortcuts and typing go to the window that has the keyboard.
        xdotool windowfocus --sync "$w" 2>/dev/null && xdotool "$command" --window "$w" "$@" 2>/dev/null &&
            return 0
        sleep 0.2
    done
    return 1
}

# Waits for the program after it was sent SIGTERM; had it ended otherwise (a crash), shows how
# and its output, which would go with the temporary folder.
ended_as_asked() {
    local status=0
    wait "$1" 2>/dev/null || status=$?
    if [ "$status" -ne 0 ] && [ "$status" -ne 143 ]; then
        echo "the program ended with status $status; its output:" >&2
        cat "$2" >&2
    fi
}

# Waits (up to a minute) until no visible window of that title is left.
wait_gone() {
    for _ in $(seq 1 600); do
        xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    return 1
}

# Ctrl+O in the main window, the path typed into the open dialog, Return. Under load a typed
# key is now and then lost (the dialog then says the file is not found); its message is
# answered and the path typed again, at most three times.
open_program() {
    to_window "Quorvane Gcode" key ctrl+o
    window_of "^Open$" >/dev/null
    sleep 0.5
    for _ in 1 2 3; do
        xdotool search --onlyvisible --name "^Open$" >/dev/null 2>&1 || return 0
        # Whatever name the dialog offers is replaced by the path typed.
        to_window "^Open$" key ctrl+a
        to_window "^Open$" type --delay 25 "$1"
        sleep 0.3
        to_window "^Open$" key Return || true # the dialog closes under it
        sleep 1.5
        xdotool search --onlyvisible --name "^Open$" >/dev/null 2>&1 || return 0
        to_window "^Open$" key Return || true # the "File not found" message
        sleep 0.5
    done
    wait_gone "^Open$"
}

# Answers the program's open message or question ("Quorvane") with KEY (Return: OK, Escape:
# Cancel), pressing it again until the box has gone; the focus is given to the box first, as no
# window manager does it under Xvfb.
answer_message() {
    local w
    for _ in $(seq 1 20); do
        w=$(xdotool search --onlyvisible --name "^Quorvane$" 2>/dev/null | tail -n 1 || true)
        [ -z "$w" ] && return 0
        xdotool windowfocus --sync "$w" 2>/dev/null && xdotool key "$1" 2>/dev/null || true
        sleep 0.5
    done
    return 1
}

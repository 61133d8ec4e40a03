#!/usr/bin/env bash
# The Debian package's postinst and postrm, run with a stand-in udevadm that logs its calls and
# a stand-in sysfs: where udev runs, the rules are reloaded and exactly the board (1781:0852) is
# triggered; where udevadm is missing or udev does not run (a chroot, a container) nothing is
# done; whatever udevadm answers, the script exits 0, so an install never fails on it.
#   maintainer_scripts_test.sh PACKAGING_DIR
set -uo pipefail
packaging=$1

source "$(dirname "$0")/checks.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A sysfs with the board, another device and one that has no ids.
sys=$work/sys/bus/usb/devices
mkdir -p "$sys/1-2" "$sys/1-3" "$sys/usb1"
echo 1781 >"$sys/1-2/idVendor"
echo 0852 >"$sys/1-2/idProduct"
echo 1781 >"$sys/1-3/idVendor"
echo 0c9f >"$sys/1-3/idProduct"

# udevadm stand-ins: one that logs and succeeds, one that logs and fails.
mkdir -p "$work/bin-ok" "$work/bin-failing" "$work/bin-none"
for kind in ok failing; do
    status=0
    [ "$kind" = failing ] && status=1
    printf '#!/bin/sh\necho "$*" >>"%s/udevadm.log"\nexit %d\n' "$work" "$status" \
        >"$work/bin-$kind/udevadm"
    chmod +x "$work/bin-$kind/udevadm"
done

# The script with its udev run folder and sysfs moved into the scratch folder.
staged() { # staged SCRIPT RUN_DIR
    sed -e "s|^udev_run_dir=.*|udev_run_dir=$2|" -e "s|^usb_devices=.*|usb_devices=$sys|" \
        "$packaging/$1" >"$work/$1"
    echo "$work/$1"
}
# The few commands the scripts use besides udevadm, so that the system's own udevadm is never on
# PATH and never reached.
mkdir -p "$work/basics"
for tool in cat readlink; do
    ln -s "$(command -v "$tool")" "$work/basics/$tool"
done
# run SCRIPT RUN_DIR PATH_DIR ARG: runs it with only PATH_DIR and those basics on PATH.
run() {
    rm -f "$work/udevadm.log"
    local script
    script=$(staged "$1" "$2")
    PATH="$work/$3:$work/basics" /bin/sh "$script" "$4" >"$work/out" 2>&1
}
log() { cat "$work/udevadm.log" 2>/dev/null; }

mkdir -p "$work/run-udev"

scripts_are_executable() {
    local s
    for s in postinst postrm; do
        [ -x "$packaging/$s" ] || { echo "$s is not executable"; return 1; }
        head -1 "$packaging/$s" | grep -qx '#!/bin/sh' || { echo "$s: not #!/bin/sh"; return 1; }
        sh -n "$packaging/$s" || return 1
    done
}
check "postinst and postrm are executable POSIX shell scripts" scripts_are_executable

postinst_reloads_and_triggers_the_board() {
    run postinst "$work/run-udev" bin-ok configure || { cat "$work/out"; return 1; }
    local want
    want=$(printf 'control --reload\ntrigger --action=change --parent-match=%s\n' "$sys/1-2")
    [ "$(log)" = "$want" ] || { printf 'udevadm calls:\n%s\nwanted:\n%s\n' "$(log)" "$want"; return 1; }
}
check "postinst configure: rules reloaded, the board alone triggered" \
    postinst_reloads_and_triggers_the_board

nothing_without_udev() {
    run postinst "$work/no-such-run-udev" bin-ok configure || return 1
    [ -z "$(log)" ] || { echo "udevadm called without udev running: $(log)"; return 1; }
    [ ! -s "$work/out" ] || { cat "$work/out"; return 1; }
    run postinst "$work/run-udev" bin-none configure || return 1
    [ ! -s "$work/out" ] || { cat "$work/out"; return 1; }
    run postrm "$work/no-such-run-udev" bin-ok remove || return 1
    [ -z "$(log)" ] || { echo "postrm called udevadm: $(log)"; return 1; }
}
check "without udevadm or a running udev both do nothing, silently, and exit 0" \
    nothing_without_udev

failing_udevadm_is_no_failed_install() {
    run postinst "$work/run-udev" bin-failing configure || { echo "postinst failed"; return 1; }
    [ "$(log | wc -l)" -eq 2 ] || { echo "calls: $(log)"; return 1; }
    run postrm "$work/run-udev" bin-failing purge || { echo "postrm failed"; return 1; }
}
check "a failing udevadm never fails the install or the removal" \
    failing_udevadm_is_no_failed_install

postrm_reloads_on_removal_only() {
    run postrm "$work/run-udev" bin-ok remove || return 1
    [ "$(log)" = "control --reload" ] || { echo "remove: $(log)"; return 1; }
    # On an upgrade the new version's postinst reloads; other postinst actions do nothing.
    run postrm "$work/run-udev" bin-ok upgrade || return 1
    [ -z "$(log)" ] || { echo "upgrade: $(log)"; return 1; }
    run postinst "$work/run-udev" bin-ok abort-upgrade || return 1
    [ -z "$(log)" ] || { echo "abort-upgrade: $(log)"; return 1; }
}
check "postrm reloads on remove, not on upgrade; postinst acts on configure only" \
    postrm_reloads_on_removal_only

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

#!/usr/bin/env bash
# Installs a build into a scratch folder, as `cmake --install` and the Debian package do, and
# checks what lands there: exactly the programs and their files (no test, no benchmark), icons
# of the sizes their folders claim, desktop entries that validate and start installed programs,
# man pages that are reproducible, render without warnings and name every option the programs
# take.
#   install_layout_test.sh CMAKE BUILD_DIR VERSION
set -uo pipefail
cmake=$1
build=$2
version=$3

source "$(dirname "$0")/checks.sh"

for tool in desktop-file-validate groff; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAILED - $tool is missing: install scripts/packages.txt (bash scripts/setup.sh)"
        echo "0 passed, 1 failed"
        exit 1
    fi
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
prefix=$root/usr
if ! "$cmake" --install "$build" --prefix "$prefix" >"$root/install.log" 2>&1; then
    cat "$root/install.log"
    echo "0 passed, 1 failed"
    exit 1
fi

expected_files() {
    cat <<'LIST'
bin/quorvane
bin/quorvane-plan
bin/quorvane-virtual
lib/udev/rules.d/70-quorvane.rules
share/applications/quorvane-virtual.desktop
share/applications/quorvane.desktop
share/icons/hicolor/128x128/apps/quorvane.png
share/icons/hicolor/256x256/apps/quorvane.png
share/icons/hicolor/48x48/apps/quorvane.png
share/icons/hicolor/scalable/apps/quorvane.svg
share/man/man1/quorvane-plan.1.gz
share/man/man1/quorvane-virtual.1.gz
share/man/man1/quorvane.1.gz
share/quorvane/help.rtf
LIST
}
same_files() {
    diff <(expected_files) <(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
}
check "the install holds exactly the programs and their files" same_files

programs_run() {
    local p
    for p in quorvane quorvane-virtual quorvane-plan; do
        [ -x "$prefix/bin/$p" ] || { echo "bin/$p is not executable"; return 1; }
    done
}
check "the three programs are executable" programs_run

version_answers() {
    local out
    out=$("$prefix/bin/quorvane-plan" --version) || return 1
    [ "$out" = "quorvane-plan $version" ] || { echo "got: $out"; return 1; }
}
check "the installed quorvane-plan --version prints quorvane-plan $version" version_answers

# Width and height from the PNG header (bytes 16 to 23, big-endian).
png_size() {
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $3 * 256 + $4, $7 * 256 + $8 }'
}
png_sizes_match() {
    local size png
    for size in 48 128 256; do
        png=$prefix/share/icons/hicolor/${size}x${size}/apps/quorvane.png
        [ "$(head -c8 "$png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] ||
            { echo "$png is no PNG"; return 1; }
        [ "$(png_size "$png")" = "${size}x${size}" ] ||
            { echo "$png is $(png_size "$png")"; return 1; }
    done
}
check "each PNG icon is a PNG of its folder's size" png_sizes_match

desktop_entries_validate() {
    local out
    out=$(desktop-file-validate "$prefix"/share/applications/*.desktop 2>&1)
    [ -z "$out" ] || { echo "$out"; return 1; }
}
check "desktop-file-validate has nothing to say about either entry" desktop_entries_validate

desktop_entries_point_home() {
    local entry exec
    for entry in "$prefix"/share/applications/*.desktop; do
        exec=$(sed -n 's/^Exec=//p' "$entry")
        [ -x "$prefix/bin/${exec%% *}" ] || { echo "$entry starts $exec, not installed"; return 1; }
        grep -qx 'Icon=quorvane' "$entry" || { echo "$entry: no Icon=quorvane"; return 1; }
        grep -q '^Keywords=.*CNC;.*G-code;' "$entry" || { echo "$entry: Keywords"; return 1; }
    done
}
check "each desktop entry starts an installed program with the installed icon" \
    desktop_entries_point_home

# gzip -n: no name (flag bit 3) and a zero time stamp (bytes 4 to 7), so builds are alike.
man_pages_reproducible() {
    local page header
    for page in "$prefix"/share/man/man1/*.gz; do
        gzip -t "$page" || return 1
        read -r -a header < <(od -An -tu1 -N8 "$page")
        if ((header[3] & 8)) || [ "${header[*]:4:4}" != "0 0 0 0" ]; then
            echo "$page carries a name or a time stamp: ${header[*]}"
            return 1
        fi
    done
}
check "the man pages are gzipped without name or time stamp" man_pages_reproducible

man_pages_render() {
    local page warnings text
    for page in "$prefix"/share/man/man1/*.gz; do
        warnings=$(zcat "$page" | groff -man -ww -Tutf8 -z 2>&1)
        [ -z "$warnings" ] || { echo "$page: $warnings"; return 1; }
        text=$(zcat "$page")
        grep -q '^\.TH ' <<<"$text" || { echo "$page has no .TH"; return 1; }
        grep -q "Quorvane $version" <<<"$text" || { echo "$page: no version $version"; return 1; }
        ! grep -q '@[A-Z_]*@' <<<"$text" || { echo "$page: a placeholder is left"; return 1; }
    done
}
check "the man pages render without a warning and carry the version" man_pages_render

# Every --option that a program's --help lists is in its man page, so the two cannot drift apart.
options_documented() {
    local program usage option page
    for program in quorvane-plan quorvane-virtual; do
        usage=$("$prefix/bin/$program" --help) || { echo "$program --help failed"; return 1; }
        page=$(zcat "$prefix/share/man/man1/$program.1.gz" | sed 's/\\-/-/g')
        for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$usage" | sort -u); do
            grep -qE -- "$option([^a-z-]|$)" <<<"$page" ||
                { echo "$program: $option not in its man page"; return 1; }
        done
    done
}
check "each option of the programs' usage is in their man pages" options_documented

# systemd's 73-seat-late.rules acts on the uaccess tag: a rule numbered after it is too late.
udev_rule_before_seat_late() {
    local rule
    for rule in "$prefix"/lib/udev/rules.d/*.rules; do
        [ "$(basename "$rule" | cut -d- -f1)" -lt 73 ] || { echo "$rule runs after 73"; return 1; }
    done
}
check "the udev rule runs before 73-seat-late.rules" udev_rule_before_seat_late

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

#!/usr/bin/env bash
# Draws the PNG icons from resources/icons/quorvane.svg: 48, 128 and 256 px squares, for the
# desktop's icon theme (installed under share/icons/hicolor) and the windows' own icon (the Qt
# resource resources/quorvane.qrc). The PNGs are committed, so a build needs no SVG tool; run
# this after changing the SVG and commit the PNGs with it.
# Installs rsvg-convert (Debian's librsvg2-bin) when it is missing; `sudo` when not root.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v rsvg-convert >/dev/null; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    echo "Installing: librsvg2-bin"
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends librsvg2-bin
fi

for size in 48 128 256; do
    rsvg-convert --width "$size" --height "$size" --output "resources/icons/quorvane-$size.png" \
        resources/icons/quorvane.svg
    echo "resources/icons/quorvane-$size.png"
done

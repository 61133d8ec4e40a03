#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing), then configures and builds.
# Run as root on Debian 12; `sudo` is used when it is there and we are not root.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t packages < <(grep -v '^\s*#' scripts/packages.txt | grep -v '^\s*$')
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    echo "Installing: ${missing[*]}"
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The board's udev rule lets the logged-in user open it without root (see README).
if [ -f resources/99-quorvane.rules ] && [ -d /etc/udev/rules.d ] && [ "$(id -u)" -eq 0 ]; then
    if ! cmp -s resources/99-quorvane.rules /etc/udev/rules.d/99-quorvane.rules; then
        cp resources/99-quorvane.rules /etc/udev/rules.d/99-quorvane.rules
        command -v udevadm >/dev/null && udevadm control --reload-rules 2>/dev/null || true
    fi
fi

cmake --preset default >/dev/null
cmake --build --preset default

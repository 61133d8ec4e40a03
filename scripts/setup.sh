#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing), then configures and builds.
# Run as root on Debian 12; `sudo` is used when it is there and we are not root.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install_packages.sh scripts/packages.txt

# The board's udev rule lets the logged-in user open it without root (see README). Earlier
# versions installed it as 99-quorvane.rules, which comes after systemd's 73-seat-late.rules and
# so too late for its uaccess tag: that copy is removed.
if [ -d /etc/udev/rules.d ] && [ "$(id -u)" -eq 0 ]; then
    rules_changed=false
    if [ -e /etc/udev/rules.d/99-quorvane.rules ]; then
        rm -f /etc/udev/rules.d/99-quorvane.rules
        rules_changed=true
    fi
    if ! cmp -s resources/70-quorvane.rules /etc/udev/rules.d/70-quorvane.rules; then
        cp resources/70-quorvane.rules /etc/udev/rules.d/70-quorvane.rules
        rules_changed=true
    fi
    if $rules_changed && command -v udevadm >/dev/null; then
        udevadm control --reload-rules 2>/dev/null || true
    fi
fi

cmake --preset default >/dev/null
cmake --build --preset default

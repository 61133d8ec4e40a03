#!/usr/bin/env bash
# Installs the Debian packages named in the given lists (one a line, # for comments) that are
# not installed yet; nothing is fetched when all are there. Used by setup.sh and package.sh.
#   scripts/install_packages.sh LIST...
# `sudo` is used when it is there and we are not root.
set -euo pipefail

packages=()
for list in "$@"; do
    mapfile -t -O "${#packages[@]}" packages < <(grep -v '^\s*#' "$list" | grep -v '^\s*$')
done
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

#!/usr/bin/env bash
# Builds the Debian package: installs the Debian packages it needs (only those missing:
# scripts/packages.txt and scripts/package-packages.txt), configures a Release build for /usr
# in build-package/ without tests and benchmarks, builds it, runs `cpack -G DEB` and prints the
# path of the .deb. Install it with: apt install ./build-package/quorvane_*.deb
# Run as root on Debian 12; `sudo` is used when it is there and we are not root.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install_packages.sh scripts/packages.txt scripts/package-packages.txt

build=build-package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQUORVANE_BUILD_TESTS=OFF -DQUORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/quorvane_*.deb
(cd "$build" && cpack -G DEB)

deb=$(ls "$build"/quorvane_*.deb)
echo "$(pwd)/$deb"

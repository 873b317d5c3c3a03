#!/usr/bin/env bash
# Builds the Debian package: installs what the build needs (Debian packages,
# as root or with sudo), builds a Release tree of its own (build-package/) and
# makes pelvaron_VERSION_ARCH.deb with CPack. Prints the package's path as its
# last line. Install it with: apt install ./pelvaron_*.deb
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-deps.sh >&2
# Only what the package holds is built (no tests, no benchmarks).
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DPELVARON_BENCH=OFF \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >&2
cmake --build build-package -j"$(nproc)" --target pelvaron pelvaron-headless pelvaron-sim pelvaron-decode pelvaron-history \
  pelvaron-plans pelvaron-report pelvaron-hub \
  pelvaron_man_pages pelvaron_changelog >&2
rm -f build-package/pelvaron_*.deb
(cd build-package && cpack -G DEB >&2)
deb=$(ls "$PWD"/build-package/pelvaron_*.deb)
cp -f "$deb" .
echo "$PWD/$(basename "$deb")"

#!/usr/bin/env bash
# Builds everything and runs every test (warnings are errors here, as in CI).
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-deps.sh
cmake --preset ci >/dev/null
cmake --build --preset ci -j"$(nproc)"
ctest --preset ci -j"$(nproc)" "$@"

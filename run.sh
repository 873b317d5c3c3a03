#!/usr/bin/env bash
# Builds what is needed and runs the console against the built-in simulated receiver.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target pelvaron-decode
exec build/tools/pelvaron-decode samples/frames.txt "$@"

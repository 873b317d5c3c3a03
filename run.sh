#!/usr/bin/env bash
# Builds what is needed and runs the console against the built-in simulated
# receiver: in a window where there is a display, else without one.
# Its files go to ./pelvaron-demo. Extra arguments go to pelvaron (see --help).
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target pelvaron pelvaron-sim pelvaron-decode pelvaron-history
exec build/src/pelvaron --demo "$@"

#!/usr/bin/env bash
# The acceptance test from the "Přejímací zkouška…" window and from
# korvalctl test, side by side over one simulator with real timing
# (9600 Bd, LAN to 127.0.0.1), offscreen. Prints the figures for
# docs/PERFORMANCE.md.
#   bash bench/tools/run.sh [runs]
#   BUILD_DIR=build-h BUILD_TYPE=Debug bash bench/tools/run.sh 5
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}"
# BUILD_DIR and BUILD_TYPE pick another tree (the figures name theirs).
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
nice cmake --build "$build" --target bench_acceptance_window
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
env -u Q417_TIMING QT_QPA_PLATFORM=offscreen "$build"/bench/bench_acceptance_window "${1:-5}"

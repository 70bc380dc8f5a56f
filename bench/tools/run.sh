#!/usr/bin/env bash
# The tools windows against korvalctl, side by side over one simulator with
# real timing (9600 Bd, LAN to 127.0.0.1), offscreen: the acceptance test
# from "Přejímací zkouška…" against korvalctl test, or with "scan" the
# module finder from "Hledat moduly…" against korvalctl scan (256
# addresses) with the event loop's longest stall. Prints the figures for
# docs/PERFORMANCE.md.
#   bash bench/tools/run.sh [scan] [runs]
#   BUILD_DIR=build-h BUILD_TYPE=Debug bash bench/tools/run.sh 5
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}"
# BUILD_DIR and BUILD_TYPE pick another tree (the figures name theirs).
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
bench=bench_acceptance_window
if [ "${1:-}" = scan ]; then
    bench=bench_scan_window
    shift
fi
nice cmake --build "$build" --target "$bench"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
env -u Q417_TIMING QT_QPA_PLATFORM=offscreen "$build/bench/$bench" "${1:-5}"

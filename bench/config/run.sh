#!/usr/bin/env bash
# Builds the digital I/O dialog's write benchmark (RelWithDebInfo, in
# build-bench-config/) and runs it offscreen; the last lines are the table
# row of docs/PERFORMANCE.md and the difference against the goal.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}"
cmake -S . -B build-bench-config -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORVAL_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench-config --target bench_config_write q417_drivers
# Repeated and interleaved, so that a burst of other load falls on both.
QT_QPA_PLATFORM=offscreen build-bench-config/bench/bench_config_write \
  --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_color=false "$@"

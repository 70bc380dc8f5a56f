#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-bench/) and runs them; the last
# lines are the table of docs/PERFORMANCE.md and the ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BENCH_PACKAGES[@]}"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKORVAL_BUILD_TESTS=OFF -DKORVAL_BUILD_GUI=OFF >/dev/null
cmake --build build-bench --target bench_lan q417sim q417_drivers
# Repeated and interleaved, so that a burst of other load on the machine
# falls on both measurements rather than on one.
build-bench/bin/bench_lan --benchmark_repetitions=10 \
  --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_color=false "$@"

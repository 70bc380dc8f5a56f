#!/usr/bin/env bash
# Builds the digital I/O dialog's write benchmark and the bus-time benchmark
# (the program's own build type, RelWithDebInfo, in build/) and runs them
# offscreen: the dialog's write against its floor with instant exchanges,
# then the write and the connect against their wire floors over the
# simulator with real timing. Each prints its table and rows; exits with 2
# when a goal is missed.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target bench_config_write bench_wire_time q417sim q417_drivers
rc=0
# Repeated and interleaved, so that a burst of other load falls on both.
QT_QPA_PLATFORM=offscreen build/bench/bench_config_write \
  --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_color=false "$@" || rc=$?
# Against computed floors: repeated for a median, nothing to interleave with.
QT_QPA_PLATFORM=offscreen build/bench/bench_wire_time \
  --benchmark_repetitions=10 --benchmark_report_aggregates_only=true \
  --benchmark_color=false "$@" || rc=$?
exit $rc

#!/usr/bin/env bash
# Processor time of the input view polling every 100 ms for 10 s, with an
# in-process driver and with the LAN driver to the simulator on 127.0.0.1
# (the simulator is started by the program itself). Offscreen, in the
# program's own build type. Prints the table of docs/PERFORMANCE.md.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target bench_poll_cpu
QT_QPA_PLATFORM=offscreen build/bench/bench_poll_cpu --seconds "${POLL_SECONDS:-10}"

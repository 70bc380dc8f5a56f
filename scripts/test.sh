#!/usr/bin/env bash
# Builds everything and runs every test: the native suite; the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer; bounded fuzzing;
# memcheck of the core and driver tests; the Windows core and drivers under
# wine; and the Debian package installed and started.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
# Every package of every step, now: the steps below run side by side, and
# two apt runs at once fail on dpkg's lock. Under this flag a step that
# finds a package missing fails instead of installing it.
ensure_packages "${ALL_PACKAGES[@]}"
export KORVAL_PACKAGES_READY=1

# Each step's wall time goes to the log, so a slow step shows in CI.
times=()
step() {
    local start=$SECONDS
    "$@"
    times+=("$(printf '%5d s  %s' $((SECONDS - start)) "$*")")
}

# Runs its commands at once, each logging to a file, then shows the logs in
# order; fails when any of them failed.
together() {
    local pids=() logs=() cmd rc=0 i
    for cmd in "$@"; do
        logs+=("$(mktemp)")
        bash -c "$cmd" >"${logs[-1]}" 2>&1 &
        pids+=($!)
    done
    for i in "${!pids[@]}"; do
        wait "${pids[$i]}" || { echo "FAILED: ${*:$((i + 1)):1}"; rc=1; }
        cat "${logs[$i]}"
        rm -f "${logs[$i]}"
    done
    return $rc
}

n=$(nproc)
step configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Test runs mostly wait (timers, time-outs, the simulator), so the next
# build runs beside each of them at low priority: the tests still get a
# processor whenever they want one.
step together "ctest --test-dir build --output-on-failure -j $n" \
    "nice -n 15 bash scripts/sanitize.sh build"
step together "bash scripts/sanitize.sh test" "nice -n 15 bash scripts/windows.sh build" \
    "KORVAL_PKG_DIR=build bash scripts/package-test.sh"
# Fuzzing runs for a fixed time on one processor, memcheck on the others.
step together "bash scripts/windows.sh test" "nice -n 15 bash scripts/fuzz.sh" \
    "VALGRIND_JOBS=$((n > 1 ? n - 1 : 1)) bash scripts/valgrind.sh"
printf '%s\n' "Steps:" "${times[@]}" "$(printf '%5d s  in all' "$SECONDS")"

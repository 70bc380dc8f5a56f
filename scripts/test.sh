#!/usr/bin/env bash
# Builds everything and runs every test: the native suite; the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer; bounded fuzzing;
# memcheck of the core and driver tests; the Windows core and drivers under
# wine; and the Debian package installed and started.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}"

# Each step's wall time goes to the log, so a slow step shows in CI.
times=()
step() {
    local start=$SECONDS
    "$@"
    times+=("$(printf '%5d s  %s' $((SECONDS - start)) "$*")")
}
native() {
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    ctest --test-dir build --output-on-failure -j "$(nproc)"
}

step native
step bash scripts/sanitize.sh
step bash scripts/fuzz.sh
step bash scripts/valgrind.sh
step bash scripts/windows.sh
step env KORVAL_PKG_DIR=build bash scripts/package-test.sh
printf '%s\n' "Steps:" "${times[@]}" "$(printf '%5d s  in all' "$SECONDS")"

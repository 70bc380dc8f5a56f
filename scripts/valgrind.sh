#!/usr/bin/env bash
# Memcheck of the core, model and driver tests (built by scripts/test.sh in
# build/): any memory error or any block definitely lost fails the script.
# VALGRIND_JOBS tests run at once (default: one per processor).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" valgrind
[ -x build/tests/core_tests ] || configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target core_tests model_tests driver_tests

logs=build/valgrind
rm -rf "$logs"
mkdir -p "$logs"
memcheck=(valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite
    --error-exitcode=1 --trace-children=no --quiet)

# A planted leak must fail, or a clean run below would prove nothing.
printf '%s\n' '#include <stdlib.h>' 'int main(void) { return malloc(64) == NULL; }' |
    cc -g -x c - -o "$logs/canary"
if "${memcheck[@]}" "$logs/canary" >"$logs/canary.log" 2>&1; then
    echo "valgrind.sh: the planted leak went unreported" >&2
    exit 1
fi
# The binding keeps one library per process: every test runs alone in its
# own process, as ctest runs them, each with its own log.
for t in tests/core_tests tests/model_tests tests/drivers/driver_tests; do
    build/$t --gtest_list_tests | awk -v t="$t" '/^[^ ]/{s=$1} /^  /{print t, s $1}'
done >"$logs/list"
export logs memcheck="${memcheck[*]}"
xargs -P "${VALGRIND_JOBS:-$(nproc)}" -L 1 sh -c '
    log="$logs/$(basename "$0").$(echo "$1" | tr / _).log"
    $memcheck "build/$0" --gtest_filter="$1" >"$log" 2>&1 || echo "FAILED: $0 $1 (see $log)"
' <"$logs/list" | tee "$logs/failed"
echo "memcheck: $(wc -l <"$logs/list") tests, $(wc -l <"$logs/failed") failed (logs in $logs/)"
[ ! -s "$logs/failed" ]

#!/usr/bin/env bash
# Memcheck of the core, model and driver tests (built by scripts/test.sh in
# build/): any memory error or any block definitely lost fails the script.
# VALGRIND_JOBS processes run at once (default: one per processor).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${VALGRIND_PACKAGES[@]}"
[ -x build/tests/core_tests ] || configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target core_tests model_tests driver_tests

logs=build/valgrind
rm -rf "$logs"
mkdir -p "$logs"
export logs

# One program under memcheck, with a gtest filter unless it is empty; its
# output goes to a log of its own.
check() {
    local log="$logs/$(basename "$1").$(echo "${2:-all}" | cut -c1-80 | tr /: __).log"
    valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite \
        --error-exitcode=1 --trace-children=no --quiet \
        "$1" ${2:+--gtest_filter="$2"} >"$log" 2>&1 || { echo "FAILED: $1 $2 (see $log)"; return 1; }
}
export -f check

# A planted leak must fail, through the very path the tests take, or a clean
# run below would prove nothing.
printf '%s\n' '#include <stdlib.h>' 'int main(void) { return malloc(64) == NULL; }' |
    cc -g -x c - -o "$logs/canary"
if check "$logs/canary" "" >/dev/null; then
    echo "valgrind.sh: the planted leak went unreported" >&2
    exit 1
fi

# The binding keeps one library per process: a test that loads a library
# runs alone in its own process, as ctest runs it. The rest of a program's
# tests share one process, which spares valgrind's start-up per test.
alone='^(Binding|Planting|EntriesTable|ComPort|Lan|Kinds/|Links/)'
# Tests of how precisely time is kept measure nothing under memcheck, which
# runs the program many times slower.
timed='^(Pause)\.'
for t in tests/core_tests tests/model_tests tests/drivers/driver_tests; do
    build/$t --gtest_list_tests | awk '/^[^ ]/{s=$1} /^  /{print s $1}' | grep -vE "$timed" >"$logs/all"
    grep -E "$alone" "$logs/all" | sed "s|^|build/$t |" || true
    shared=$(grep -vE "$alone" "$logs/all" | paste -sd: - || true)
    [ -z "$shared" ] || echo "build/$t $shared"
done >"$logs/list"
rm -f "$logs/all"

xargs -P "${VALGRIND_JOBS:-$(nproc)}" -L 1 bash -c 'check "$0" "$1"' <"$logs/list" |
    tee "$logs/failed" || true
echo "memcheck: $(cut -d' ' -f2 "$logs/list" | tr : '\n' | wc -l) tests in" \
    "$(wc -l <"$logs/list") processes, $(wc -l <"$logs/failed") failed (logs in $logs/)"
[ ! -s "$logs/failed" ]

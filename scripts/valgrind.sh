#!/usr/bin/env bash
# Memcheck of the core, model and driver tests (built by scripts/test.sh in
# build/): any memory error or any block definitely lost fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" valgrind
[ -x build/tests/core_tests ] || configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target core_tests model_tests driver_tests

status=0
for t in tests/core_tests tests/model_tests tests/drivers/driver_tests; do
    log=build/valgrind-$(basename "$t").log
    : >"$log"
    # The binding keeps one library per process: the tests that load a
    # library each run alone, as ctest runs them.
    for name in $(build/$t --gtest_list_tests | awk '/^[^ ]/{s=$1} /^  /{print s $1}'); do
        if ! valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite \
            --error-exitcode=1 --trace-children=no --quiet \
            build/$t --gtest_filter="$name" >>"$log" 2>&1; then
            echo "FAILED: $t $name (see $log)"
            status=1
        fi
    done
    echo "$t: done ($log)"
done
exit $status

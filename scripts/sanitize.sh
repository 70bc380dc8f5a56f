#!/usr/bin/env bash
# Builds everything with AddressSanitizer + UndefinedBehaviorSanitizer in
# build-asan and runs the whole test suite there; the first finding aborts
# its test, so any finding fails the script.
#   bash scripts/sanitize.sh [build|test]   # one half only (scripts/test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${SANITIZE_PACKAGES[@]}"

# clang compiles this tree about twice as fast as g++ at -O0. The driver
# libraries must resolve every symbol at link time, so all share the
# sanitizers' run-time library, found through the run path.
runtime=$(dirname "$(clang-14 -print-file-name=libclang_rt.asan-x86_64.so)")
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
link="-fsanitize=address,undefined -shared-libsan -Wl,-rpath,$runtime"

build() {
    # A tree configured with another compiler cannot be switched in place.
    if [ -f build-asan/CMakeCache.txt ] &&
        ! grep -q '^CMAKE_CXX_COMPILER:.*clang++-14' build-asan/CMakeCache.txt; then
        rm -rf build-asan
    fi
    # Warnings are the normal build's business; this one hunts run-time
    # faults. The benchmarks and the screenshot tool have no tests to run.
    configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DKORVAL_WERROR=OFF \
        -DKORVAL_BUILD_EXTRAS=OFF \
        -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
        -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
        -DCMAKE_EXE_LINKER_FLAGS="$link" -DCMAKE_SHARED_LINKER_FLAGS="$link"
}

run_tests() {
    # The sanitizers must be live in this set-up: a planted overflow has to
    # be reported, or a clean run would prove nothing.
    local canary=build-asan/canary
    printf '%s\n' '#include <stdlib.h>' \
        'int main(int c, char **v) { (void)v; char *p = malloc(4); p[c + 3] = 1; free(p); return 0; }' |
        clang-14 $flags -x c - -o "$canary" $link
    if "$canary" 2>"$canary.log" || ! grep -q 'heap-buffer-overflow' "$canary.log"; then
        echo "sanitize.sh: the planted overflow went unreported" >&2
        return 1
    fi

    export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
    export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
    export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
    export QT_QPA_PLATFORM=offscreen
    ctest --test-dir build-asan --output-on-failure -j "$(nproc)" --timeout 300
}

case ${1:-all} in
build) build ;;
test) run_tests ;;
*)
    build
    run_tests
    ;;
esac

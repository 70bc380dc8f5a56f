#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz and
# runs each from its seed corpus for FUZZ_SECONDS (default: 60 s in all).
# Any crash, sanitizer finding or failed check fails the script; the input
# is left in build-fuzz/findings/<target>/.
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh    # a longer run, per target
#   FUZZ_TARGETS="fuzz_wire" bash scripts/fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${FUZZ_PACKAGES[@]}"

targets=(${FUZZ_TARGETS:-fuzz_profile_file fuzz_settings fuzz_text fuzz_wire fuzz_integer})
seconds=${FUZZ_SECONDS:-$((60 / ${#targets[@]}))}
# Every unit gets coverage counters; only the targets link the fuzzer's main.
flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DKORVAL_FUZZ=ON -DKORVAL_BUILD_TESTS=OFF -DKORVAL_WERROR=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
# The readers take files; tmpfs keeps the saves' fsync from setting the pace.
[ -d /dev/shm ] && export TMPDIR=/dev/shm
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for t in "${targets[@]}"; do
    # The seeds stay as they are; what the fuzzer learns goes to build-fuzz.
    corpus=build-fuzz/corpus/$t
    findings=build-fuzz/findings/$t
    mkdir -p "$corpus" "$findings"
    log=build-fuzz/$t.log
    if build-fuzz/fuzz/$t -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "fuzz/corpus/$t" \
        >"$log" 2>&1; then
        echo "$t: ok, $(grep -m1 stat::number_of_executed_units "$log" | awk '{print $2}') runs in ${seconds} s"
    else
        echo "$t: FAILED (log $log, input in $findings/)"
        grep -m5 -E "ERROR|check failed|runtime error" "$log" || tail -20 "$log"
        status=1
    fi
done
exit $status

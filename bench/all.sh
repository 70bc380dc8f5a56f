#!/usr/bin/env bash
# Runs every benchmark of the project one after another and prints the one
# table of docs/PERFORMANCE.md (each figure beside what it is measured
# against, from the same run). With --write, the table also replaces the
# one in docs/PERFORMANCE.md. Exits with 1 when a benchmark fails to give its
# figures; a missed goal shows in the table's last column.
#   bash bench/all.sh            # about seven minutes once built (the scan's full sweep is two)
#   bash bench/all.sh --write
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BENCH_PACKAGES[@]}"

write=
[ "${1:-}" = --write ] && write=1
# BENCH_LOGS=DIR keeps each benchmark's full output (its own tables) there.
if [ -n "${BENCH_LOGS:-}" ]; then
    logs=$BENCH_LOGS
    mkdir -p "$logs"
else
    logs=$(mktemp -d)
    trap 'rm -rf "$logs"' EXIT
fi
load=$(cut -d' ' -f1 /proc/loadavg)

failed=0
# Each benchmark's own output goes to its log; its "row" lines to the table.
bench() {
    local name=$1
    shift
    echo "== $name: $*" >&2
    local rc=0
    "$@" >"$logs/$name.log" 2>&1 || rc=$?
    if ! grep -q $'^row\t' "$logs/$name.log"; then
        echo "$name gave no figures (exit $rc):" >&2
        tail -20 "$logs/$name.log" >&2
        failed=1
    fi
}

bench lan bash bench/run.sh
bench modulecall bash -c 'cmake --build build-bench --target bench_modulecall q417_drivers >/dev/null &&
    build-bench/bin/bench_modulecall --benchmark_repetitions=10 \
      --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
      --benchmark_color=false'
bench startup bash bench/startup.sh
bench views bash bench/views/run.sh
bench config bash bench/config/run.sh
# korvalctl --trace into a file, traced and untraced reads taken in turns.
bench trace bash -c 'cmake --build build-bench --target bench_trace q417sim q417_drivers >/dev/null &&
    build-bench/bin/bench_trace --benchmark_repetitions=10 \
      --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
      --benchmark_color=false'
bench cli bash bench/cli-startup.sh
bench scan bash bench/scan.sh
bench profile bash bench/profile.sh
bench acceptance bash bench/acceptance.sh

machine="$(nproc) × $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
table=$(
    echo "Measured on $machine, $(date +%Y-%m-%d), load average $load at the start;"
    echo "regenerate with \`bash bench/all.sh --write\`."
    echo
    echo "| figure | measured | against | ratio | goal | met |"
    echo "|---|---|---|---|---|---|"
    cat "$logs"/{lan,modulecall,startup,views,config,cli,trace,scan,profile,acceptance}.log 2>/dev/null |
        awk -F'\t' '$1 == "row" { printf "| %s | %s | %s | %s | %s | %s |\n", $2, $3, $4, $5, $6, $7 }'
)
echo "$table"

if [ -n "$write" ]; then
    python3 - docs/PERFORMANCE.md "$table" <<'PY'
import sys
path, table = sys.argv[1], sys.argv[2]
text = open(path, encoding="utf-8").read()
begin, end = "<!-- table: bench/all.sh -->", "<!-- end of table -->"
a, b = text.index(begin) + len(begin), text.index(end)
open(path, "w", encoding="utf-8").write(text[:a] + "\n" + table + "\n" + text[b:])
PY
    echo "docs/PERFORMANCE.md: table replaced" >&2
fi
exit $failed

#!/usr/bin/env bash
# Start-up of the program against a minimal Qt Widgets program, side by side:
# wall time (hyperfine) and peak memory (GNU time), each process ending as
# soon as its first window is on screen. Prints a table row for
# docs/PERFORMANCE.md.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" hyperfine time python3
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target bench_quit_on_show bench_minimal_window W_korval

export QT_QPA_PLATFORM=offscreen
shim=$PWD/build/bench/libbench_quit_on_show.so
prog=$PWD/build/bin/W_korval
floor=$PWD/build/bench/bench_minimal_window
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The program starts from its defaults, as on a first start.
cd "$work"
cp "$prog" "$floor" .

hyperfine --warmup 5 --runs "${RUNS:-40}" --export-json "$work/h.json" \
    "env LD_PRELOAD=$shim ./W_korval" "env LD_PRELOAD=$shim ./bench_minimal_window" >&2

rss() {
    for _ in $(seq 15); do
        env LD_PRELOAD="$shim" /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
    done | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}
prog_kb=$(rss ./W_korval)
floor_kb=$(rss ./bench_minimal_window)

python3 - "$work/h.json" "$prog_kb" "$floor_kb" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
p, f = r[0]["mean"] * 1000, r[1]["mean"] * 1000
pk, fk = int(sys.argv[2]), int(sys.argv[3])
print(f"| start-up wall time (offscreen) | {p:.1f} ms | {f:.1f} ms | {p/f:.2f} | 1.3 |")
print(f"| start-up peak memory (RSS) | {pk/1024:.1f} MiB | {fk/1024:.1f} MiB | {pk/fk:.2f} | 1.3 |")
PY

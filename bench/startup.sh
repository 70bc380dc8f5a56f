#!/usr/bin/env bash
# Start-up of the program against a minimal Qt Widgets program, side by side:
# wall time (hyperfine) and peak memory (GNU time), each process ending as
# soon as its first window is on screen. Prints a table row for
# docs/PERFORMANCE.md. BASELINE=<another build of W_korval> (one from before
# a change) runs that program in the same run and prints its rows too.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BENCH_PACKAGES[@]}"
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
programs=(./W_korval ./bench_minimal_window)
if [ -n "${BASELINE:-}" ]; then
    cp "$BASELINE" ./W_korval_baseline
    programs+=(./W_korval_baseline)
fi
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

# Ten short rounds rather than one long one: load on this shared machine
# drifts within seconds, and each round puts the programs side by side.
for round in $(seq 10); do
    hyperfine --warmup 2 --runs "${RUNS:-6}" --export-json "$work/h$round.json" \
        "${programs[@]/#/env LD_PRELOAD=$shim }" >/dev/null
done

rss() {
    for _ in $(seq 15); do
        env LD_PRELOAD="$shim" /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
    done | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}
kb=()
for p in "${programs[@]}"; do
    kb+=("$(rss "$p")")
done
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

python3 - "$work" "${kb[@]}" <<'PY'
import glob, json, statistics, sys
rounds = [json.load(open(f))["results"] for f in glob.glob(sys.argv[1] + "/h*.json")]
kb = [int(k) for k in sys.argv[2:]]
# Each program's median time over the rounds, and the ratio as the median
# of the rounds' own ratios.
ms = lambda i: statistics.median(r[i]["median"] * 1000 for r in rounds)
f, fk = ms(1), kb[1]
for name, i in (("", 0), (", baseline", 2))[: len(kb) - 1]:
    ratio = statistics.median(r[i]["median"] / r[1]["median"] for r in rounds)
    p, pk = ms(i), kb[i]
    print(f"| start-up wall time (offscreen){name} | {p:.1f} ms | {f:.1f} ms | {ratio:.2f} | 1.3 |")
    print(f"| start-up peak memory (RSS){name} | {pk/1024:.1f} MiB | {fk/1024:.1f} MiB | {pk/fk:.2f} | 1.3 |")
    # The rows of the project's table (bench/all.sh).
    if not name:
        for what, a, b, q, unit in (("wall time", p, f, ratio, "ms"),
                                    ("peak memory", pk / 1024, fk / 1024, pk / fk, "MiB")):
            print(f"row\tStart-up to the main window on screen (offscreen), {what}, against a minimal "
                  f"Qt Widgets program\t{a:.1f} {unit}\t{b:.1f} {unit}\t{q:.2f}\t<= 1.3\t"
                  f"{'yes' if q <= 1.3 else 'no'}")
PY

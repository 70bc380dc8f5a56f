#!/usr/bin/env bash
# korvalctl's start to exit against a C++ hello world, side by side
# (hyperfine): `korvalctl --version`, and `korvalctl info` on an in-process
# driver (PCI, timing off: Init, SetConfig, three identity exchanges).
# Prints a table row for docs/PERFORMANCE.md per figure.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BENCH_PACKAGES[@]}"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target korvalctl bench_hello q417_drivers

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ctl=$PWD/build/bin/korvalctl
hello=$PWD/build/bin/bench_hello
# An empty settings file: every value comes from the command line.
: >"$work/empty.ini"
info=("$ctl" --settings "$work/empty.ini" --interface pci --address 1 --baud 9600 info)
# The command must work before it is timed.
Q417_TIMING=none "${info[@]}" >/dev/null
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

# Ten short rounds rather than one long one: load on this shared machine
# drifts within seconds, and each round puts the programs side by side.
for round in $(seq 10); do
    env Q417_TIMING=none hyperfine -N --warmup 5 --runs "${RUNS:-30}" \
        --export-json "$work/h$round.json" \
        "$hello" "$ctl --version" "${info[*]}" >/dev/null
done
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

python3 - "$work" <<'PY'
import glob, statistics, sys, json
rounds = [json.load(open(f))["results"] for f in glob.glob(sys.argv[1] + "/h*.json")]
ms = lambda i: statistics.median(r[i]["median"] * 1000 for r in rounds)
# The ratio is the median of the rounds' own ratios.
ratio = lambda i: statistics.median(r[i]["median"] / r[0]["median"] for r in rounds)
for name, i, goal in (("korvalctl --version, start to exit, against a C++ hello world", 1, 1.5),
                      ("korvalctl info (PCI, in-process module, timing off), start to exit, against a C++ hello world", 2, 3.0)):
    q = ratio(i)
    print(f"row\t{name}\t{ms(i):.2f} ms\t{ms(0):.2f} ms\t{q:.2f}\t<= {goal}\t{'yes' if q <= goal else 'no'}")
PY

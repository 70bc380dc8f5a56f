#!/usr/bin/env bash
# The module finder against its wire floor, on the simulator with real
# timing over the LAN driver (127.0.0.1): 256 addresses at 9600 Bd, at
# 115200 Bd and at all nine rates, one module present (1 at 9600 Bd), each
# `korvalctl scan` timed start to exit; and how soon Ctrl+C ends a scan at
# 600 Bd. Prints a table row per figure for docs/PERFORMANCE.md.
#   bash bench/scan.sh            # about 4 minutes: the full sweep is most of it
#   FULL=0 bash bench/scan.sh     # without the full sweep
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BENCH_PACKAGES[@]}"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target korvalctl q417sim q417_drivers >/dev/null

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
PYTHONPATH=bench python3 - "$PWD/build/bin" "${FULL:-1}" <<'PY'
import json, signal, statistics, subprocess, sys, time
from simbench import Bench, exchange_time, first_byte_time, row

b = Bench(sys.argv[1])
full = sys.argv[2] == "1"

def scan(args):
    start = time.monotonic()
    p = b.run(["--json", "scan"] + args, check=False)
    took = time.monotonic() - start
    doc = json.loads(p.stdout)
    finds = [(f["address"], f["baud_rate"]) for f in doc["finds"]]
    return took, finds

rates = [9600, 19200, 115200, 57600, 38400, 4800, 2400, 1200, 600]
plans = [("256 addresses at 9600 Bd", [9600], 5), ("256 addresses at 115200 Bd", [115200], 5)]
if full:
    plans.append(("256 addresses at all nine rates", rates, 1))
for name, plan, runs in plans:
    took = []
    for _ in range(runs):
        t, finds = scan(["--rates", ",".join(map(str, plan))])
        expected = [(1, 9600)] if 9600 in plan else []
        if finds != expected:
            sys.exit(f"scan {plan} found {finds}, expected {expected}")
        took.append(t)
    measured = statistics.median(took)
    # An empty probe waited to the end of a reply costs an exchange; told
    # early, the reply's first byte. The module found costs its probe like
    # an empty one, plus the two further exchanges of its identity read.
    found = 2 * exchange_time(9600) if 9600 in plan else 0
    floor = sum(256 * exchange_time(r) for r in plan) + found
    early = sum(256 * first_byte_time(r) for r in plan) + found
    print(f"{name}: median {measured:.3f} s of {runs} ({', '.join(f'{t:.3f}' for t in took)}); "
          f"floor {floor:.3f} s, first-byte floor {early:.3f} s", file=sys.stderr)
    row(f"korvalctl scan, {name}, LAN to the simulator with real timing, against the wire floor "
        f"of empty probes (request, turnaround, reply)", f"{measured:.2f} s",
        f"{floor:.2f} s (first-byte floor {early:.2f} s: {measured / early:.2f})",
        measured / floor, 1.10)

# Ctrl+C at 600 Bd: a probe there has the longest time-out of all.
stops = []
for i in range(5):
    p = subprocess.Popen(b.ctl + ["scan", "--rates", "600"], env=b.env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    time.sleep(1.0 + 0.17 * i)   # at different points within a probe
    sent = time.monotonic()
    p.send_signal(signal.SIGINT)
    p.wait()
    stops.append(time.monotonic() - sent)
    if p.returncode != 130:
        sys.exit(f"scan after Ctrl+C ended with {p.returncode}, expected 130")
b.stop()
# The probe's time-out: its exchange and the default 2 ms margin.
allowed = exchange_time(600) + 0.002 + 0.1
worst = max(stops)
print(f"Ctrl+C to exit at 600 Bd: {', '.join(f'{s * 1000:.0f}' for s in stops)} ms", file=sys.stderr)
row("korvalctl scan at 600 Bd, Ctrl+C to exit (worst of 5), against one probe's time-out + 100 ms",
    f"{worst * 1000:.0f} ms", f"{allowed * 1000:.0f} ms", worst / allowed, 1.0)
PY

#!/usr/bin/env bash
# The module finder against its wire floor, on the simulator with real
# timing over the LAN driver (127.0.0.1): 256 addresses at 9600 Bd, at
# 115200 Bd and at all nine rates, one module present (1 at 9600 Bd), each
# `korvalctl scan` timed start to exit; how soon Ctrl+C ends a scan at
# 600 Bd; and modules that answer late (turnarounds of 5, 20 and 60 ms
# among fast ones), against the same scan with every module fast and no
# late windows. Prints a table row per figure for docs/PERFORMANCE.md.
#   bash bench/scan.sh            # about 5 minutes: the full sweep is most of it
#   FULL=0 bash bench/scan.sh     # without the full sweep
#   BASELINE_BIN=DIR bash bench/scan.sh
#                                 # also the full sweep with nobody there, by
#                                 # korvalctl, drivers and simulator in DIR (an
#                                 # earlier build), in turn with this build's
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BENCH_PACKAGES[@]}"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target korvalctl q417sim q417_drivers >/dev/null

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
PYTHONPATH=bench python3 - "$PWD/build/bin" "${FULL:-1}" "${BASELINE_BIN:-}" <<'PY'
import json, signal, statistics, subprocess, sys, time
from simbench import TURNAROUND as TURN, Bench, exchange_time, first_byte_time, row

bindir = sys.argv[1]
b = Bench(bindir)
full = sys.argv[2] == "1"
baseline = sys.argv[3]

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

# Late modules: 5, 20 and 60 ms of turnaround where the finder expects 1 ms,
# beside two fast ones, at 9600 and 115200 Bd; and the same bus with every
# module fast, scanned without late windows (--late-window 0), which is
# how a scan went before late replies. Each late module costs its second
# probe and an identity read at its own pace; each rate its late window.
fast = ["1:4", "40:4", "80:4", "120:8", "200:8"]
slow = ["1:4", "40:4::5", "80:4::20", "120:8::60", "200:8"]
turn = {40: (9600, 0.005), 80: (9600, 0.020), 120: (115200, 0.060)}
plan = ["--rates", "9600,115200"]
times = {"slow": [], "fast": []}
for _ in range(3):
    for kind, modules, extra in (("slow", slow, []), ("fast", fast, ["--late-window", "0"])):
        bench = Bench(bindir, modules=modules)
        start = time.monotonic()
        p = bench.run(["--json", "scan"] + plan + extra)
        times[kind].append(time.monotonic() - start)
        bench.stop()
        doc = json.loads(p.stdout)
        got = sorted((f["address"], f["baud_rate"]) for f in doc["finds"])
        want = sorted((int(m.split(":")[0]), 9600 if m.split(":")[1] == "4" else 115200)
                      for m in modules)
        if got != want:
            sys.exit(f"scan of {modules} found {got}, expected {want}")
        marked = sorted(f["address"] for f in doc["finds"] if f["slow"])
        if kind == "slow" and not set(turn) <= set(marked):
            sys.exit(f"scan of {modules} marked {marked} slow, expected {sorted(turn)} at least")
        if set(marked) - set(turn):
            # A fast module the machine made late: the figure pays for it.
            print(f"warning: {kind} scan found {sorted(set(marked) - set(turn))} late: "
                  "the machine is busy", file=sys.stderr)
t_slow, t_fast = statistics.median(times["slow"]), statistics.median(times["fast"])
# Each late module: its second probe at its pace, and its identity read of
# three exchanges slower than a fast module's. Each rate: its late window
# (the probe's time-out, 100 ms, less what an empty probe costs).
def probe_ms(rate):
    return -(-(exchange_time(rate) + 0.002) * 1000 // 1)
long_probes = sum(exchange_time(r) - TURN + t + 3 * (t - TURN) for r, t in turn.values())
windows = sum(probe_ms(r) / 1000 + 0.1 - min(probe_ms(r) / 1000, first_byte_time(r) + 0.0003)
              for r in (9600, 115200))
budget = t_fast + long_probes + windows
print(f"late modules: with {', '.join(f'{t:.3f}' for t in times['slow'])} s, "
      f"all fast without windows {', '.join(f'{t:.3f}' for t in times['fast'])} s; "
      f"long probes {long_probes * 1000:.0f} ms, windows {windows * 1000:.0f} ms", file=sys.stderr)
row("korvalctl scan, 256 addresses at 9600 and 115200 Bd, three late modules (5, 20, 60 ms) "
    "among two fast, all found: against the same scan of fast modules without late windows, "
    "plus one long probe per late module and the late windows",
    f"{t_slow:.2f} s", f"{budget:.2f} s ({t_fast:.2f} s + {long_probes:.2f} s + {windows:.2f} s)",
    t_slow / budget, 1.02)

if baseline:
    # Nobody there: the whole sweep by both builds in turn, so that the
    # machine's load falls on both alike.
    sweeps = {"this": [], "baseline": []}
    for _ in range(2):
        for which, ctl, sim in (("this", bindir, None), ("baseline", baseline, baseline)):
            bench = Bench(ctl, modules=["1:4"], simdir=sim)
            start = time.monotonic()
            p = bench.run(["--json", "scan", "--addresses", "2-255,0"], check=False)
            sweeps[which].append(time.monotonic() - start)
            bench.stop()
            if p.returncode != 4:
                sys.exit(f"an empty sweep ended with {p.returncode}")
    this, before = statistics.median(sweeps["this"]), statistics.median(sweeps["baseline"])
    print(f"empty sweep: this build {', '.join(f'{t:.2f}' for t in sweeps['this'])} s, "
          f"baseline {', '.join(f'{t:.2f}' for t in sweeps['baseline'])} s", file=sys.stderr)
    row("korvalctl scan, 255 addresses at all nine rates, nobody there (late windows included), "
        "against the build before late replies, in turn in one run",
        f"{this:.2f} s", f"{before:.2f} s", this / before, 1.02)
# The probe's time-out: its exchange and the default 2 ms margin.
allowed = exchange_time(600) + 0.002 + 0.1
worst = max(stops)
print(f"Ctrl+C to exit at 600 Bd: {', '.join(f'{s * 1000:.0f}' for s in stops)} ms", file=sys.stderr)
row("korvalctl scan at 600 Bd, Ctrl+C to exit (worst of 5), against one probe's time-out + 100 ms",
    f"{worst * 1000:.0f} ms", f"{allowed * 1000:.0f} ms", worst / allowed, 1.0)
PY

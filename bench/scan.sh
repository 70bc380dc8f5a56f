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
python3 - "$PWD/build/bin" "${FULL:-1}" <<'PY'
import json, os, signal, statistics, subprocess, sys, tempfile, time

bindir, full = sys.argv[1], sys.argv[2] == "1"
sim = subprocess.Popen([f"{bindir}/q417sim", "--udp-port", "0", "--timing", "real", "--module", "1:4"],
                       stdout=subprocess.PIPE, text=True)
port = None
for line in sim.stdout:
    if line.startswith("udp "):
        port = line.split(":")[1].strip()
    if line.strip() == "ready":
        break
settings = tempfile.NamedTemporaryFile(suffix=".ini")
env = {k: v for k, v in os.environ.items() if k != "Q417_TIMING"}
ctl = [f"{bindir}/korvalctl", "--settings", settings.name, "-i", "lan", "--ip", "127.0.0.1",
       "--udp-port", port]

# The bus's own cost (drivers/common/BusTiming.h): 10 bits a byte, a 12-byte
# request, an 11-byte reply, 1 ms turnaround.
T = 0.001
def probe_floor(rate):          # an empty probe, waited to the end of a reply
    return 23 * 10 / rate + T
def early_floor(rate):          # silence told once the reply's first byte is overdue
    return 13 * 10 / rate + T
def exchange(rate):
    return 23 * 10 / rate + T

def scan(args):
    start = time.monotonic()
    p = subprocess.run(ctl + ["--json", "scan"] + args, env=env, capture_output=True, text=True)
    took = time.monotonic() - start
    doc = json.loads(p.stdout)
    finds = [(f["address"], f["baud_rate"]) for f in doc["finds"]]
    return took, finds

def row(figure, measured, floor, goal, extra=""):
    ratio = measured / floor
    print(f"row\t{figure}\t{measured:.2f} s\t{floor:.2f} s{extra}\t{ratio:.2f}\t<= {goal}\t"
          f"{'yes' if ratio <= goal else 'no'}", flush=True)

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
    # The module found costs its probe like an empty one, plus the two
    # further exchanges of its identity read.
    found = 2 * exchange(9600) if 9600 in plan else 0
    floor = sum(256 * probe_floor(r) for r in plan) + found
    early = sum(256 * early_floor(r) for r in plan) + found
    print(f"{name}: median {measured:.3f} s of {runs} ({', '.join(f'{t:.3f}' for t in took)}); "
          f"floor {floor:.3f} s, first-byte floor {early:.3f} s", file=sys.stderr)
    row(f"korvalctl scan, {name}, LAN to the simulator with real timing, against the wire floor "
        f"of empty probes (request, turnaround, reply)", measured, floor, 1.10,
        f" (first-byte floor {early:.2f} s: {measured / early:.2f})")

# Ctrl+C at 600 Bd: a probe there has the longest time-out of all.
stops = []
for i in range(5):
    p = subprocess.Popen(ctl + ["scan", "--rates", "600"], env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    time.sleep(1.0 + 0.17 * i)   # at different points within a probe
    sent = time.monotonic()
    p.send_signal(signal.SIGINT)
    p.wait()
    stops.append(time.monotonic() - sent)
    if p.returncode != 130:
        sys.exit(f"scan after Ctrl+C ended with {p.returncode}, expected 130")
timeout = 23 * 10 / 600 + T + 0.002
worst = max(stops)
print(f"Ctrl+C to exit at 600 Bd: {', '.join(f'{s * 1000:.0f}' for s in stops)} ms", file=sys.stderr)
print(f"row\tkorvalctl scan at 600 Bd, Ctrl+C to exit (worst of 5), against one probe's "
      f"time-out + 100 ms\t{worst * 1000:.0f} ms\t{(timeout + 0.1) * 1000:.0f} ms\t"
      f"{worst / (timeout + 0.1):.2f}\t<= 1.0\t{'yes' if worst <= timeout + 0.1 else 'no'}", flush=True)
sim.terminate()
sim.wait()
PY

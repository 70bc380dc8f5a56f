#!/usr/bin/env bash
# `korvalctl config restore` against its wire floor, on the simulator with
# real timing over the LAN driver (127.0.0.1): one module at 1, 9600 Bd,
# a profile saved from it restored 5 times, each run timed start to exit.
# The floor is the command's own exchanges, counted from its trace, each
# at the bus's exchange time (request, 1 ms turnaround, reply). Prints a
# table row for docs/PERFORMANCE.md.
#   bash bench/profile.sh        # about 10 seconds
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BENCH_PACKAGES[@]}"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target korvalctl q417sim q417_drivers >/dev/null

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
python3 - "$PWD/build/bin" <<'PY'
import csv, os, statistics, subprocess, sys, tempfile, time

bindir = sys.argv[1]
sim = subprocess.Popen([f"{bindir}/q417sim", "--udp-port", "0", "--timing", "real", "--module", "1:4"],
                       stdout=subprocess.PIPE, text=True)
port = None
for line in sim.stdout:
    if line.startswith("udp "):
        port = line.split(":")[1].strip()
    if line.strip() == "ready":
        break
work = tempfile.TemporaryDirectory()
settings = os.path.join(work.name, "W_korval.ini")
profile = os.path.join(work.name, "modul1.txt")
trace = os.path.join(work.name, "trace.csv")
env = {k: v for k, v in os.environ.items() if k != "Q417_TIMING"}
ctl = [f"{bindir}/korvalctl", "--settings", settings, "-i", "lan", "--ip", "127.0.0.1",
       "--udp-port", port, "-a", "1", "-b", "9600"]

def run(args):
    p = subprocess.run(ctl + args, env=env, capture_output=True, text=True)
    if p.returncode != 0:
        sys.exit(f"korvalctl {' '.join(args)} ended with {p.returncode}: {p.stderr}")

run(["config", "save", profile])
# The exchanges a restore makes, as it makes them: the trace has a row each.
run(["--trace", trace, "--trace-format", "csv", "config", "restore", profile])
with open(trace, newline="") as f:
    exchanges = sum(1 for _ in csv.DictReader(f))

took = []
for _ in range(5):
    start = time.monotonic()
    run(["config", "restore", profile])
    took.append(time.monotonic() - start)
sim.terminate()
sim.wait()

# The bus's own cost (drivers/common/BusTiming.h ExchangeTime): 10 bits a
# byte, a 12-byte request, an 11-byte reply, 1 ms turnaround. restore makes
# no pauses of its own.
rate, T = 9600, 0.001
floor = exchanges * (23 * 10 / rate + T)
measured = statistics.median(took)
ratio = measured / floor
goal = 1.05
print(f"restore: median {measured:.3f} s of 5 ({', '.join(f'{t:.3f}' for t in took)}); "
      f"{exchanges} exchanges, floor {floor:.3f} s", file=sys.stderr)
print(f"row\tkorvalctl config restore (12 registers with read-back), 9600 Bd, LAN to the simulator "
      f"with real timing, start to exit, against the wire floor of its {exchanges} exchanges\t"
      f"{measured:.3f} s\t{floor:.3f} s\t{ratio:.2f}\t<= {goal}\t{'yes' if ratio <= goal else 'no'}",
      flush=True)
PY

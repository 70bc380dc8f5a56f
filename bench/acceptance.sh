#!/usr/bin/env bash
# The I/O acceptance test against its wire floor, on the simulator with real
# timing over the LAN driver (127.0.0.1): `korvalctl test` at 9600 Bd, each
# run timed start to exit, the median of 3. The floor is every exchange the
# run makes (counted from its own trace: the identity reads of the
# connection and the test's) at the bus's time for one exchange, plus the
# settle pauses (none by default). Prints a table row for
# docs/PERFORMANCE.md.
#   bash bench/acceptance.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BENCH_PACKAGES[@]}"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target korvalctl q417sim q417_drivers >/dev/null

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
python3 - "$PWD/build/bin" <<'PY'
import json, os, statistics, subprocess, sys, tempfile, time

bindir = sys.argv[1]
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
       "--udp-port", port, "-a", "1", "-b", "9600"]

# bus::ExchangeTime(9600, 1 ms) (drivers/common/BusTiming.h): 10 bits a
# byte, a 12-byte request, the 1 ms turnaround, an 11-byte reply.
RATE, T = 9600, 0.001
exchange = 23 * 10 / RATE + T
interval_ms = 0   # korvalctl test's default: no settle pause

# The exchanges of one run, each a line of its trace.
p = subprocess.run(ctl + ["test", "--trace", "-"], env=env, capture_output=True, text=True)
if p.returncode != 0:
    sys.exit(f"korvalctl test ended with {p.returncode}: {p.stderr}")
exchanges = sum(1 for line in p.stdout.splitlines() if "→" in line and "←" in line)
if exchanges == 0:
    sys.exit("no exchange found in the trace")

took = []
for _ in range(3):
    start = time.monotonic()
    p = subprocess.run(ctl + ["--json", "test"], env=env, capture_output=True, text=True)
    took.append(time.monotonic() - start)
    doc = json.loads(p.stdout)
    if p.returncode != 0 or doc["verdict"] != "VYHOVUJE":
        sys.exit(f"korvalctl test ended with {p.returncode}, verdict {doc['verdict']}")
measured = statistics.median(took)
pauses = doc["steps"] * interval_ms / 1000
floor = exchanges * exchange + pauses
print(f"korvalctl test: median {measured:.3f} s of 3 ({', '.join(f'{t:.3f}' for t in took)}); "
      f"{exchanges} exchanges x {exchange * 1000:.3f} ms + {pauses:.3f} s pauses = floor {floor:.3f} s",
      file=sys.stderr)
ratio = measured / floor
goal = 1.10
print(f"row\tkorvalctl test (I/O acceptance, 66 patterns), 9600 Bd, LAN to the simulator with real "
      f"timing, start to exit, against the wire floor of its {exchanges} exchanges\t{measured:.2f} s\t"
      f"{floor:.2f} s\t{ratio:.2f}\t<= {goal}\t{'yes' if ratio <= goal else 'no'}", flush=True)
sim.terminate()
sim.wait()
PY

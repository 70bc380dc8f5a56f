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
PYTHONPATH=bench python3 - "$PWD/build/bin" <<'PY'
import json, statistics, sys, time
from simbench import Bench, exchange_time, row

b = Bench(sys.argv[1], ["-a", "1", "-b", "9600"])
interval_ms = 0   # korvalctl test's default: no settle pause

# The exchanges of one run, each a line of its trace.
p = b.run(["test", "--trace", "-"])
exchanges = sum(1 for line in p.stdout.splitlines() if "→" in line and "←" in line)
if exchanges == 0:
    sys.exit("no exchange found in the trace")

took = []
for _ in range(3):
    start = time.monotonic()
    p = b.run(["--json", "test"], check=False)
    took.append(time.monotonic() - start)
    doc = json.loads(p.stdout)
    if p.returncode != 0 or doc["verdict"] != "VYHOVUJE":
        sys.exit(f"korvalctl test ended with {p.returncode}, verdict {doc['verdict']}")
b.stop()
measured = statistics.median(took)
pauses = doc["steps"] * interval_ms / 1000
exchange = exchange_time(9600)
floor = exchanges * exchange + pauses
print(f"korvalctl test: median {measured:.3f} s of 3 ({', '.join(f'{t:.3f}' for t in took)}); "
      f"{exchanges} exchanges x {exchange * 1000:.3f} ms + {pauses:.3f} s pauses = floor {floor:.3f} s",
      file=sys.stderr)
row(f"korvalctl test (I/O acceptance, 66 patterns), 9600 Bd, LAN to the simulator with real "
    f"timing, start to exit, against the wire floor of its {exchanges} exchanges",
    f"{measured:.2f} s", f"{floor:.2f} s", measured / floor, 1.10)
PY

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
PYTHONPATH=bench python3 - "$PWD/build/bin" <<'PY'
import csv, statistics, sys, time
from simbench import Bench, exchange_time, row

b = Bench(sys.argv[1], ["-a", "1", "-b", "9600"])
profile, trace = b.path("modul1.txt"), b.path("trace.csv")

b.run(["config", "save", profile])
# The exchanges a restore makes, as it makes them: the trace has a row each.
b.run(["--trace", trace, "--trace-format", "csv", "config", "restore", profile])
with open(trace, newline="") as f:
    exchanges = sum(1 for _ in csv.DictReader(f))

took = []
for _ in range(5):
    start = time.monotonic()
    b.run(["config", "restore", profile])
    took.append(time.monotonic() - start)
b.stop()

# restore makes no pauses of its own.
floor = exchanges * exchange_time(9600)
measured = statistics.median(took)
print(f"restore: median {measured:.3f} s of 5 ({', '.join(f'{t:.3f}' for t in took)}); "
      f"{exchanges} exchanges, floor {floor:.3f} s", file=sys.stderr)
row(f"korvalctl config restore (12 registers with read-back), 9600 Bd, LAN to the simulator "
    f"with real timing, start to exit, against the wire floor of its {exchanges} exchanges",
    f"{measured:.3f} s", f"{floor:.3f} s", measured / floor, 1.05)
PY

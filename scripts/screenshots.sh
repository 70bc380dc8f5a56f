#!/usr/bin/env bash
# Renders the README's pictures: the program connected to the simulator on
# 127.0.0.1, on a virtual X display. Rerun after changing a window.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${SCREENSHOTS_PACKAGES[@]}"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo

bin=$PWD/build/bin
work=$(mktemp -d)
"$bin/q417sim" --udp-port 0 >"$work/sim.out" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do grep -q '^ready$' "$work/sim.out" && break; sleep 0.1; done
port=$(sed -n 's/^udp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.out")

# The module finder's bus: two modules found at once, one slow, a collision
# of two at one address, and one at 115200 Bd.
"$bin/q417sim" --udp-port 0 --module 1 --module 5:4::40 --module 7:4:ALPHA-01 \
    --module 7:4:BRAVO-02 --module 12:8 >"$work/bus.out" &
bus_pid=$!
trap 'kill $sim_pid $bus_pid 2>/dev/null; wait $sim_pid $bus_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do grep -q '^ready$' "$work/bus.out" && break; sleep 0.1; done
bus_port=$(sed -n 's/^udp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/bus.out")

xvfb-run -a -s "-screen 0 1024x768x24" "$bin/korval_shoot" --port "$port" \
    --scan-port "$bus_port" --out docs/screenshots

# korvalctl's acceptance-test report, of a module with two faults wired in:
# input 5 stuck at 1 and the wires of channels 30 and 31 crossed.
"$bin/q417sim" --udp-port 0 --timing none --stuck DIN5=1 --swap 30,31 >"$work/faulty.out" &
faulty_pid=$!
trap 'kill $sim_pid $bus_pid $faulty_pid 2>/dev/null; wait $sim_pid $bus_pid $faulty_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do grep -q '^ready$' "$work/faulty.out" && break; sleep 0.1; done
faulty_port=$(sed -n 's/^udp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/faulty.out")
: >"$work/empty.ini"
rc=0
"$bin/korvalctl" --settings "$work/empty.ini" -i lan --ip 127.0.0.1 --udp-port "$faulty_port" \
    -a 1 -b 9600 test --report "$work/report.html" >/dev/null || rc=$?
[ "$rc" -eq 3 ] || { echo "korvalctl test ended with $rc, expected 3 (channels failing)" >&2; exit 1; }
QT_QPA_PLATFORM=offscreen "$bin/korval_shoot" --html "$work/report.html" docs/screenshots/test-report.png
cp "$work/report.html" docs/screenshots/test-report.html
ls -l docs/screenshots

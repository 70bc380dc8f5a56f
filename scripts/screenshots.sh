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

xvfb-run -a -s "-screen 0 1024x768x24" "$bin/korval_shoot" --port "$port" --out docs/screenshots
ls -l docs/screenshots

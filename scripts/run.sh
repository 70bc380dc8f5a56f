#!/usr/bin/env bash
# Builds the program, starts the module simulator on 127.0.0.1 and the
# program with it; stops the simulator when the program ends.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${RUN_PACKAGES[@]}"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo

bin=$PWD/build/bin
work=$(mktemp -d)
sim_pid=
prog_pid=
cleanup() {
    # The program has usually ended already, and a kill that finds nothing
    # fails: under set -e that ended the clean-up there, leaving the
    # simulator running.
    set +e
    [ -n "$prog_pid" ] && kill "$prog_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# A signal to this script ends the program and the simulator with it.
trap 'exit 130' INT TERM HUP

# The simulator: one module at address 1 on UDP port 5000 (another free port
# if that one is taken), and on a pseudo-terminal that the COM driver reaches
# as COM1.
start_sim() {
    "$bin/q417sim" --udp-port "$1" --link "$work/tty" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 50); do
        grep -q '^ready$' "$work/sim.out" && return 0
        kill -0 "$sim_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
if ! start_sim 5000; then
    sim_pid=
    start_sim 0 || { cat "$work/sim.err" >&2; exit 1; }
fi
port=$(sed -n 's/^udp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.out")
export Q417_COM1="$work/tty"

# The settings name this run's simulator, whatever an earlier run left.
bash scripts/sim-settings.sh "$bin/korval_ini" "$bin/W_korval.ini" "$port"

echo "Simulator: module at address 1 on 127.0.0.1:$port (LAN) and $Q417_COM1 (COM1)."
echo "In the program: Připojení, then Inicializace připojení."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    ensure_packages "${XVFB_PACKAGES[@]}"
    echo "No display: running on a virtual X display (xvfb-run). Stop with Ctrl+C."
    xvfb-run -a "$bin/W_korval" &
else
    "$bin/W_korval" &
fi
# Waiting in the background lets a signal reach the traps at once.
prog_pid=$!
wait "$prog_pid" || true

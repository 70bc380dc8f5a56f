#!/usr/bin/env bash
# korvalctl.exe under wine against the build machine's simulator on
# 127.0.0.1: its commands (info, config, scan of a small range, test) and
# its exit codes, as the Linux tests check them.
#   wine_korvalctl.sh KORVALCTL.EXE Q417SIM WINE
set -uo pipefail
exe=$1 sim=$2 wine=$3
[ -x "$sim" ] || { echo "no simulator at '$sim' (KORVAL_NATIVE_SIM)" >&2; exit 1; }
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

start_sim() { # NAME ARGS...: a simulator, its UDP port in $work/NAME.port
    local name=$1
    shift
    "$sim" --udp-port 0 --timing none "$@" >"$work/$name.out" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do grep -q '^ready$' "$work/$name.out" && break; sleep 0.1; done
    sed -n 's/^udp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/$name.out" >"$work/$name.port"
    [ -s "$work/$name.port" ] || { echo "simulator $name did not start:"; cat "$work/$name.out"; exit 1; }
}
start_sim good --module 3
start_sim faulty --module 3 --stuck DIN5=1

failures=0
# run EXPECTED-EXIT SIM ARGS...: korvalctl against SIM; output in $work/out, $work/err.
run() {
    local expected=$1 port
    port=$(cat "$work/$2.port")
    shift 2
    "$wine" "$exe" --settings "Z:$work/W_korval.ini" -i lan --ip 127.0.0.1 --udp-port "$port" \
        "$@" >"$work/out" 2>"$work/err"
    local rc=$?
    if [ "$rc" -ne "$expected" ]; then
        echo "FAIL: korvalctl $* ended with $rc, expected $expected"
        sed 's/^/  out: /' "$work/out"
        sed 's/^/  err: /' "$work/err"
        failures=$((failures + 1))
        return 1
    fi
    echo "ok:   korvalctl $* -> $rc"
}
# has FILE TEXT: the output holds TEXT, byte for byte (UTF-8).
has() {
    grep -qF -- "$2" "$work/$1" || {
        echo "FAIL: $1 lacks '$2':"
        sed 's/^/  /' "$work/$1"
        failures=$((failures + 1))
    }
}

run 0 good --version && has out "korvalctl"
run 0 good -a 3 info && has out "DIO-3232 v.1.07"
run 1 good -a 4 info && has err "krok 1/3"
run 0 good -a 3 config show && has out "Negace"
run 0 good -a 3 config save "Z:$work/profile.txt"
run 0 good -a 3 config diff "Z:$work/profile.txt" && has out "Modul se shoduje se souborem"
run 0 good --json scan --addresses 0-7 --rates 9600,115200 && has out '"address": 3'
run 4 good scan --addresses 10-12 --rates 9600 && has err "žádný modul neodpověděl"
run 0 good -a 3 test --report "Z:$work/report.html" && has out "Protokol zapsán do"
[ -s "$work/report.html" ] || { echo "FAIL: no report written"; failures=$((failures + 1)); }
run 3 faulty -a 3 test && has out "DIN5"
run 2 good info --baud 1234 && has err "není podporovaná rychlost"
run 2 good scan --addresses 5-300 && has err "není seznam adres 0..255"

[ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }
echo "all passed"

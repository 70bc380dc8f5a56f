#!/usr/bin/env bash
# The README's Windows pictures: the program built for Windows
# (scripts/windows.sh build) run under wine with the windows platform on a
# virtual X display, connected over LAN to the simulator on 127.0.0.1, its
# windows as Windows' style draws them, into docs/screenshots/windows/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${WINDOWS_PACKAGES[@]}"
if [ ! -f build-win/bin/korval_shoot.exe ] || [ ! -x build/bin/q417sim ]; then bash scripts/windows.sh build; fi
[ -f build-win/bin/korval_shoot.exe ] || { echo "no korval_shoot.exe: the Windows build has no windows without a Qt for mingw" >&2; exit 1; }

export WINEPREFIX=$PWD/build-win/wineprefix WINEDEBUG=-all
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
start_sim() { # NAME ARGS...: its UDP port in $work/NAME.port
    local name=$1
    shift
    build/bin/q417sim --udp-port 0 "$@" >"$work/$name.out" &
    pids+=($!)
    for _ in $(seq 50); do grep -q '^ready$' "$work/$name.out" && break; sleep 0.1; done
    sed -n 's/^udp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/$name.out" >"$work/$name.port"
}
start_sim main
# As scripts/screenshots.sh: the finder's bus has a slow module and a collision.
start_sim bus --module 1 --module 5:4::40 --module 7:4:ALPHA-01 --module 7:4:BRAVO-02 --module 12:8

out=docs/screenshots/windows
mkdir -p "$out"
/usr/lib/wine/wineserver -w || true
# Qt's FreeType font engine: with wine's own (DirectWrite and GDI) Qt's
# line edits stay blank under wine 8 (their text is there: the tests read
# it).
xvfb-run -a -s "-screen 0 1024x768x24" /usr/lib/wine/wine64 build-win/bin/korval_shoot.exe \
    -platform windows:fontengine=freetype --port "$(cat "$work/main.port")" --scan-port "$(cat "$work/bus.port")" --out "Z:$PWD/$out"
ls -l "$out"

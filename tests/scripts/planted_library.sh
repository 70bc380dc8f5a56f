#!/usr/bin/env bash
# Starts PROGRAM with a planted copy of a library it needs in its working
# directory; fails when the planted copy is loaded.
#   planted_library.sh PLANTED_LIBRARY PROGRAM [ARG...]
set -euo pipefail
planted=$(realpath "$1")
program=$(realpath "$2")
shift 2
name=$(basename "$planted")
readelf -d "$program" | grep -qF "Shared library: [$name]" || {
    echo "$program does not need $name: nothing to plant"
    exit 77
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$planted" "$work/"
mark=$work/planted-library-loaded

# Runs the program until the loader has settled which copy of the library
# it takes, then ends it (the GUI would otherwise run on): until the planted
# copy has left its mark, or (`settled`) the system's copy is mapped, which
# takes the name for good, or the program ends by itself. The 30 s only
# bound a hang: a busy machine may take seconds to start a sanitized GUI.
start() {
    local until=$1
    shift
    (cd "$work" && exec env "$@" QT_QPA_PLATFORM=offscreen "$program" "${args[@]}" \
        >"$work/out.txt" 2>&1) &
    local pid=$! tries=600
    while kill -0 "$pid" 2>/dev/null && [ ! -e "$mark" ] && [ $((tries--)) -gt 0 ]; do
        if [ "$until" = settled ] &&
            grep -v -F "$work/" "/proc/$pid/maps" 2>/dev/null | grep -q "/$name\$"; then
            break
        fi
        sleep 0.05
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
args=("$@")

# The planted copy must leave its mark when it is loaded, or its absence
# below would prove nothing.
start marked LD_LIBRARY_PATH="$work"
[ -e "$mark" ] || { echo "the planted $name left no mark even on the loader path"; cat "$work/out.txt"; exit 1; }
rm -f "$mark"

start settled
if [ -e "$mark" ]; then
    echo "$program loaded $name from its working directory"
    readelf -d "$program" | grep -E 'R(UN)?PATH' || true
    exit 1
fi
echo "$program: the $name in its working directory was not loaded"

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

# The loader reaches every needed library before main(), so a second is
# plenty; the GUI would otherwise run on.
start() { (cd "$work" && env "$@" QT_QPA_PLATFORM=offscreen timeout 2 "$program" "${args[@]}" \
    >"$work/out.txt" 2>&1) || true; }
args=("$@")

# The planted copy must leave its mark when it is loaded, or its absence
# below would prove nothing.
start LD_LIBRARY_PATH="$work"
[ -e "$mark" ] || { echo "the planted $name left no mark even on the loader path"; cat "$work/out.txt"; exit 1; }
rm -f "$mark"

start
if [ -e "$mark" ]; then
    echo "$program loaded $name from its working directory"
    readelf -d "$program" | grep -E 'R(UN)?PATH' || true
    exit 1
fi
echo "$program: the $name in its working directory was not loaded"

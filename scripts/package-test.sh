#!/usr/bin/env bash
# Builds the Debian package (build-pkg/), installs it with apt, checks what
# it put where, starts the installed program offscreen as an ordinary user
# and removes the package again. Needs root or sudo (apt).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${PACKAGE_TEST_PACKAGES[@]}"

# KORVAL_PKG_DIR: package an existing build tree (the test run's) instead of
# configuring one of its own.
dir=${KORVAL_PKG_DIR:-build-pkg}
if [ -n "${KORVAL_PKG_DIR:-}" ]; then
    cmake --build "$dir" -j "$(nproc)"
else
    configure_and_build "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVAL_BUILD_TESTS=OFF
fi
rm -f "$dir"/korval_*.deb
(cd "$dir" && cpack -G DEB)
deb=$(ls "$PWD/$dir"/korval_*.deb)
echo "Package: $deb"
dpkg-deb --field "$deb" Package Version Depends

fail() { echo "package test: $*" >&2; exit 1; }

expected=(
    ./usr/lib/korval/W_korval
    ./usr/lib/korval/libqcom417.so ./usr/lib/korval/libqpci417.so
    ./usr/lib/korval/libqpci1417.so ./usr/lib/korval/libqusb1417.so
    ./usr/lib/korval/libqlx1417.so
    ./usr/bin/w_korval ./usr/bin/q417sim
    ./usr/lib/korval/korvalctl ./usr/bin/korvalctl
    ./usr/share/man/man1/korvalctl.1 ./usr/share/doc/korval/korvalctl.md
    ./usr/share/applications/korval.desktop
    ./usr/share/icons/hicolor/scalable/apps/korval.svg
)
contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for f in "${expected[@]}"; do
    grep -qx -- "$f" <<<"$contents" || fail "$f is not in the package"
done
dpkg-deb --field "$deb" Depends | grep -q libqt6widgets6 || fail "no dependency on Qt Widgets"

install_package_file "$deb"
installed=1
cleanup() {
    [ -n "${installed:-}" ] && remove_packages korval || true
    [ -n "${home:-}" ] && rm -rf "$home"
}
trap cleanup EXIT

[ "$(readlink -f /usr/bin/w_korval)" = /usr/lib/korval/W_korval ] || fail "/usr/bin/w_korval does not lead to the program"
bash scripts/check-runpath.sh /usr/lib/korval /usr/bin/q417sim || fail "an installed file searches a relative directory"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate /usr/share/applications/korval.desktop || fail "desktop entry invalid"
fi

# The program as an ordinary user would start it, on the offscreen
# platform. It must still be running after 5 s: `timeout` then ends it
# with 124. A SIGTERM does not close the window, so it saves nothing; the
# per-user settings file is the core tests' to check
# (Settings.ProgramInAReadOnlyDirectorySavesAndLoadsPerUser).
home=$(mktemp -d)
run=()
if [ "$(id -u)" -eq 0 ]; then
    chown nobody "$home"
    run=(runuser -u nobody --)
fi
rc=0
"${run[@]}" env -i HOME="$home" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen \
    timeout 5 /usr/bin/w_korval >"$home/out.txt" 2>&1 || rc=$?
[ "$rc" -eq 124 ] || { cat "$home/out.txt"; fail "w_korval ended with $rc within 5 s"; }
[ ! -e /usr/lib/korval/W_korval.ini ] || fail "the program wrote beside itself"

# korvalctl from the PATH, as an ordinary user, needs no toolkit and
# reaches the in-process module through the installed drivers.
[ "$(readlink -f /usr/bin/korvalctl)" = /usr/lib/korval/korvalctl ] || fail "/usr/bin/korvalctl does not lead to korvalctl"
! ldd /usr/lib/korval/korvalctl | grep -q libQt6 || fail "korvalctl links the toolkit"
out=$("${run[@]}" env -i HOME="$home" PATH=/usr/bin:/bin Q417_TIMING=none \
    korvalctl -i pci -a 1 -b 9600 --json info 2>&1) || fail "korvalctl info failed: $out"
grep -q '"module": "DIO-3232' <<<"$out" || fail "korvalctl info gave no identity: $out"

# The simulator answers from the package too.
out=$(timeout 5 /usr/bin/q417sim --module 1 --udp-port 0 2>&1 | head -2 || true)
grep -q '^udp 127.0.0.1:' <<<"$out" || fail "q417sim did not start: $out"

remove_packages korval
installed=
[ ! -e /usr/lib/korval ] && [ ! -e /usr/bin/w_korval ] || fail "files left after removal"
echo "package test: passed"

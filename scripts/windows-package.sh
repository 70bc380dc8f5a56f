#!/usr/bin/env bash
# Packs the Windows build into build-win/korval-<version>-win64.zip and
# checks it: every import of every .exe and .dll in it is either in the zip
# or a DLL Windows ships; unpacked into a fresh wine prefix, korvalctl.exe
# --version runs and W_korval.exe starts, closes on WM_CLOSE and saves its
# settings beside itself, or under %LOCALAPPDATA% when its folder is
# read-only.
#   bash scripts/windows-package.sh BUILD-DIR VERSION   # from scripts/windows.sh package
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1 version=$2
bin=$dir/bin
name=korval-$version-win64
zip=$(cd "$dir" && pwd)/$name.zip
stage=$dir/package/$name
wine=/usr/lib/wine/wine64
objdump=x86_64-w64-mingw32-objdump

# What goes in: the program, korvalctl, the drivers, and what
# cmake/DeployQt.cmake put beside them for it (not the tests' Qt6Test.dll
# and minimal platform).
files=(W_korval.exe korvalctl.exe QCOM417.DLL QPCI417.DLL QPCI1417.DLL QUSB1417.DLL QLX1417.DLL
    Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll
    platforms/qwindows.dll styles/qwindowsvistastyle.dll)
rm -rf "$dir/package"
mkdir -p "$stage/platforms" "$stage/styles"
for f in "${files[@]}"; do
    cp "$bin/$f" "$stage/$f"
done
# Windows' own editors read it as the system's code page; UTF-8 with CRLF and
# a byte order mark reads right in Notepad.
printf '\xef\xbb\xbf' >"$stage/README.txt"
sed 's/$/\r/' packaging/windows/README.txt >>"$stage/README.txt"
rm -f "$zip"
(cd "$dir/package" && cmake -E tar cf "$zip" --format=zip "$name")
echo "$zip: $(stat -c %s "$zip") bytes, $(find "$stage" -type f | wc -l) files"

# Imports: in the zip, or what every Windows 10 has in System32 (API sets
# included). A name outside both is a DLL a user's machine would miss.
system_dlls='^(advapi32|authz|comdlg32|d3d11|d3d9|dwmapi|dwrite|dxgi|gdi32|imm32|kernel32|mpr|msvcrt|netapi32|ole32|oleaut32|setupapi|shcore|shell32|shlwapi|user32|userenv|uxtheme|version|winmm|ws2_32|wtsapi32|iphlpapi|bcrypt|crypt32|api-ms-win-.*)\.dll$'
missing=0
while IFS= read -r -d '' f; do
    while read -r dll; do
        lower=${dll,,}
        [[ $lower =~ $system_dlls ]] && continue
        [ -n "$(find "$stage" -maxdepth 1 -iname "$dll" -print -quit)" ] && continue
        echo "MISSING: $(basename "$f") imports $dll, which neither the zip nor Windows has"
        missing=1
    done < <("$objdump" -p "$f" | sed -n 's/^\s*DLL Name: //p')
done < <(find "$stage" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
[ "$missing" -eq 0 ] || exit 1
echo "imports: every DLL imported is in the zip or in Windows"

# A clean prefix and a user who is not root, so that a read-only folder is
# one: root writes everywhere.
check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
as=()
if [ "$(id -u)" -eq 0 ]; then
    chown nobody "$check"
    as=(runuser -u nobody --)
fi
run() { # as the user, in the check's prefix
    "${as[@]}" env HOME="$check" WINEPREFIX="$check/prefix" WINEDEBUG=-all "$@"
}
cd "$check"
run cmake -E tar xf "$zip"
app=$check/$name
run "$wine" wineboot -i >/dev/null 2>&1 || true

out=$(run "$wine" "$app/korvalctl.exe" --version)
case $out in
*"$version"*) echo "korvalctl.exe --version: $out" ;;
*) echo "korvalctl.exe --version printed: $out" >&2; exit 1 ;;
esac

# Starts W_korval.exe, waits until its window is up, closes it as Windows
# does at a click on the close box (WM_CLOSE), and waits for its end. Each
# start has a wine server of its own: one left from a start without a
# display (above) would keep the windows off this one.
start_and_close() {
    run /usr/lib/wine/wineserver -w
    run xvfb-run -a sh -c '
        "$0" "$1/W_korval.exe" & pid=$!
        # WM_CLOSE until it is heard: the first ones may come before the
        # window is up. Each try ends with the answer of taskkill.
        sent=0
        for i in $(seq 240); do
            kill -0 $pid 2>/dev/null || break
            "$0" taskkill /im W_korval.exe 2>/dev/null | grep -q "Close message sent" && sent=1
            sleep 0.5
        done
        if kill -0 $pid 2>/dev/null; then kill $pid; echo "W_korval.exe did not close" >&2; exit 1; fi
        [ $sent -eq 1 ] || { echo "W_korval.exe ended before any window of it was closed" >&2; exit 1; }
        wait $pid' "$wine" "$app"
}
local_ini=$check/prefix/drive_c/users/$("${as[@]}" id -un)/AppData/Local/W_korval/W_korval.ini
start_and_close
[ -f "$app/W_korval.ini" ] || { echo "W_korval.exe saved no W_korval.ini beside itself" >&2; exit 1; }
echo "W_korval.exe started, closed and saved W_korval.ini beside itself"
rm "$app/W_korval.ini"
chmod a-w "$app"
start_and_close
[ ! -e "$app/W_korval.ini" ] || { echo "W_korval.ini was written into the read-only folder" >&2; exit 1; }
[ -f "$local_ini" ] || { echo "no $local_ini after a run from a read-only folder" >&2; exit 1; }
chmod u+w "$app"
echo "from a read-only folder it saved %LOCALAPPDATA%\\W_korval\\W_korval.ini"
# The prefix's server saves its registry as it ends: before the check's
# directory goes.
run /usr/lib/wine/wineserver -w

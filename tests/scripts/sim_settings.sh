#!/usr/bin/env bash
# scripts/sim-settings.sh, as scripts/run.sh calls it: a settings file left
# by an earlier run that names another simulator port must name this run's
# port afterwards, with the user's other settings kept byte for byte; a
# first run gets a file that reaches the simulator.
#   sim_settings.sh SOURCE_DIR KORVAL_INI
set -euo pipefail
script=$1/scripts/sim-settings.sh
tool=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; od -c "$ini" | head -40; exit 1; }

# An earlier run's file, edited since: another interface chosen, the LAN
# converter at another address and the port that run's simulator had, key
# names in another case, a comment. Windows-1250 with CRLF.
ini=$work/W_korval.ini
user_part='[P\xf8ipojen\xed]\r\nRozhran\xed=COMx\r\nAdresa=7\r\nRychlost=19200\r\n\r\n; pozn\xe1mka\r\n[COMx]\r\n\xc8\xedslo portu=3\r\n\r\n'
printf "$user_part"'[lx-1417]\r\nip adresa=127.0.0.9\r\nudp PORT=5000\r\nUDP timeout=250\r\n' >"$ini"
bash "$script" "$tool" "$ini" 5123 >/dev/null
printf "$user_part"'[lx-1417]\r\nip adresa=127.0.0.1\r\nudp PORT=5123\r\nUDP timeout=250\r\n' >"$work/expected"
cmp -s "$ini" "$work/expected" || {
    echo "expected:"; od -c "$work/expected" | head -40
    fail "the file left by an earlier run does not name this run's simulator, or lost the user's settings"
}

# A second run on yet another port.
bash "$script" "$tool" "$ini" 5000 >/dev/null
grep -qa $'^udp PORT=5000\r$' "$ini" || fail "the second run's port is not in the file"

# The first run: no file yet.
ini=$work/first/W_korval.ini
mkdir "$work/first"
bash "$script" "$tool" "$ini" 5001 >/dev/null
for line in '[P\xf8ipojen\xed]' 'Rozhran\xed=LX-1417' 'Adresa=1' '[LX-1417]' \
    'IP adresa=127.0.0.1' 'UDP port=5001'; do
    grep -qaFx "$(printf "$line\r")" "$ini" || fail "a first run's file lacks '$line'"
done

echo "sim-settings: passed"

#!/usr/bin/env bash
# Points the program's settings file at this run's simulator on 127.0.0.1:
# the LAN converter's address and UDP port are written on every run, since
# the simulator may have had to take another port than the file names; the
# user's other settings stay as they are. A first start also gets the LAN
# converter chosen at module address 1, which the simulator serves. (COM1
# needs nothing here: Q417_COM1 names this run's pseudo-terminal.)
#   bash scripts/sim-settings.sh KORVAL_INI SETTINGS_FILE UDP_PORT
# KORVAL_INI is build/bin/korval_ini, which writes as the program does.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 KORVAL_INI SETTINGS_FILE UDP_PORT" >&2; exit 2; }
tool=$1 ini=$2 port=$3

keys=()
if [ ! -e "$ini" ]; then
    keys+=(Připojení Rozhraní LX-1417 Připojení Adresa 1 Připojení Rychlost 9600
        LX-1417 "UDP timeout" 1000)
    echo "Writing $ini for the simulator."
fi
keys+=(LX-1417 "IP adresa" 127.0.0.1 LX-1417 "UDP port" "$port")
"$tool" "$ini" "${keys[@]}"

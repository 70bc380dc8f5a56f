#!/bin/sh
# Each driver DLL exports its seven entries and the optional SetGuard and Late,
# undecorated, and nothing else:
# a host finds them by these plain names.
set -u
dir=$1
objdump=${2:-objdump}
status=0
for pair in QCOM417:QCOM417_ QPCI417:QPCI417_ QPCI1417:QPCI1417_ QUSB1417:QUSB1417_ QLX1417:QLX1417_; do
  lib=$dir/${pair%%:*}.DLL
  prefix=${pair#*:}
  expected=$(printf '%s\n' Done Error GetConfig Init Late Send SetConfig SetGuard Version | sed "s/^/$prefix/")
  # The "[Ordinal/Name Pointer] Table" rows: "[   n] name".
  actual=$("$objdump" -p "$lib" | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] \([^[:space:]]*\)$/\1/p' | sort)
  if [ -z "$actual" ] || [ "$actual" != "$expected" ]; then
    echo "$lib exports:"; echo "$actual"; echo "expected:"; echo "$expected"
    status=1
  fi
done
exit $status

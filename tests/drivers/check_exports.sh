#!/bin/sh
# Each driver library exports its seven entries and the optional SetGuard and Late,
# and nothing else: anything more could collide with the host's own symbols.
set -u
dir=$1
status=0
for pair in qcom417:QCOM417_ qpci417:QPCI417_ qpci1417:QPCI1417_ qusb1417:QUSB1417_ qlx1417:QLX1417_; do
  lib=$dir/lib${pair%%:*}.so
  prefix=${pair#*:}
  expected=$(printf '%s\n' Done Error GetConfig Init Late Send SetConfig SetGuard Version | sed "s/^/$prefix/")
  actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
  if [ "$actual" != "$expected" ]; then
    echo "$lib exports:"; echo "$actual"; echo "expected:"; echo "$expected"
    status=1
  fi
done
exit $status

#!/usr/bin/env bash
# Builds everything and runs every test: the native suite; the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer; bounded fuzzing;
# memcheck of the core and driver tests; the Windows core and drivers under
# wine; and the Debian package installed and started.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$(nproc)"

bash scripts/sanitize.sh
bash scripts/fuzz.sh
bash scripts/valgrind.sh

bash scripts/windows.sh
KORVAL_PKG_DIR=build bash scripts/package-test.sh

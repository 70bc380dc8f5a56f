#!/usr/bin/env bash
# Builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "The module-access core is built (build/src/core). The main window and the"
echo "module simulator come with the application shell; until then this command"
echo "only builds."

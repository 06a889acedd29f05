#!/usr/bin/env bash
# Builds everything and runs every test: what CI runs, and the README's test command.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh

build=${QELN_BUILD_DIR:-build}
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j"$(nproc)"

export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --no-tests=error --output-on-failure -j2 "$@"

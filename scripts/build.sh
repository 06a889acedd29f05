#!/usr/bin/env bash
# Installs what is missing, configures once and builds incrementally: the step the test and
# console commands share. Arguments are build targets (default: everything).
# QELN_BUILD_DIR chooses the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh

build=${QELN_BUILD_DIR:-build}
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"

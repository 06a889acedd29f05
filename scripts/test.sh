#!/usr/bin/env bash
# Builds everything and runs every test: what CI runs, and the README's test command.
# Arguments go to ctest (e.g. -R tst_scheduler).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh

export QT_QPA_PLATFORM=offscreen
cd "${QELN_BUILD_DIR:-build}"
ctest --no-tests=error --output-on-failure -j2 "$@"

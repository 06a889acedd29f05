#!/usr/bin/env bash
# Figures of the console in demo mode: time from start to the main window shown, from
# Connect to the first decoded status, and resident memory after a minute of polling.
# Usage: scripts/console-figures.sh [SECONDS]   (default 60; needs a built qeln-console)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${QELN_BUILD_DIR:-build}
seconds=${1:-60}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    export XDG_RUNTIME_DIR
fi
# The console lines (one per poll) are not figures: standard output is dropped.
"$build/ui/qeln-console" --demo --auto-connect --quit-after "$seconds" 2>&1 >/dev/null \
    | grep -E '^qeln-console: (main window shown|first status|resident memory)'

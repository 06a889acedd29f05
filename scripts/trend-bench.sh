#!/usr/bin/env bash
# Trend recording figures: builds trend_bench and runs it on a synthetic month at 1 Hz
# (2.6 million statuses), made once and kept in the build folder (about 215 MB; it takes about
# a minute to make). Arguments go to trend_bench (--days, --repeats, --record, --seed); pass
# --db FILE to use another recording.
# QELN_BUILD_DIR chooses the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${QELN_BUILD_DIR:-build}
bash scripts/build.sh trend_bench
db=()
[[ " $* " == *" --db "* || " $* " == *" --db="* ]] || db=(--db "$build/trend-bench-30d.trend.sqlite")
exec "$build/bench/trend_bench" "${db[@]}" "$@"

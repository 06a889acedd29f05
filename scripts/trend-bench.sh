#!/usr/bin/env bash
# Trend recording figures: builds trend_bench and runs it on a synthetic month at 1 Hz
# (2.6 million statuses), made once and kept in the build folder (about 215 MB; it takes about
# a minute to make). Arguments go to trend_bench (--days, --repeats, --record, --seed,
# --commits, --prune); pass --db FILE to use another recording.
# Then the peak resident memory of `qeln-cli trend export` over the whole recording: every
# status as CSV, and per minute as a workbook (/usr/bin/time -v).
# QELN_BUILD_DIR chooses the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${QELN_BUILD_DIR:-build}
bash scripts/build.sh trend_bench qeln-cli
args=("$@")
db="$build/trend-bench-30d.trend.sqlite"
for ((i = 0; i < ${#args[@]}; ++i)); do
    case ${args[i]} in
    --db) db=${args[i + 1]} ;;
    --db=*) db=${args[i]#--db=} ;;
    esac
done
[[ " $* " == *" --db "* || " $* " == *" --db="* ]] || args=(--db "$db" "${args[@]}")
"$build/bench/trend_bench" "${args[@]}"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
measure() {
    local what=$1
    shift
    /usr/bin/time -v -o "$out/time" "$build/cli/qeln-cli" trend export --db "$db" "$@" >"$out/stdout"
    local rss wall bytes
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$out/time")
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$out/time")
    bytes=$(stat -c %s "$out/stdout")
    printf '  %-32s peak resident %6d MB, %s wall, %s bytes to standard output\n' "$what" "$((rss / 1024))" "$wall" "$bytes"
}
echo
echo "export of the whole recording (qeln-cli trend export):"
measure "every status, CSV"
measure "per minute, CSV" --step 1m
measure "per minute, workbook" --step 1m --out "$out/minutes.xlsx"

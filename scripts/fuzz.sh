#!/usr/bin/env bash
# Builds the fuzzers with clang (libFuzzer, ASan, UBSan) and runs each for RUNS inputs, one
# after the other, starting from its seeds in fuzz/seeds-<name>/ (and its dictionary
# fuzz/<name>.dict where there is one):
#   receive   the console's serial and TCP assemblers and dispatchers, in every request state
#   status    the status decode into texts (live monitor, module tree, animation, settings view)
#   history   the history count and record decoders, serial text and TCP bytes, and their rows
#   ip        the network block's read-back decoder, its texts and the write built from it
#   cli       the readers of `qeln-cli settings apply` and `ip apply` (file and KEY=VALUE)
#   sim       the simulator's framing and protocol on both links
#   simfiles  the simulator's scenario and log files
# Ends with one line per harness: executions and seconds. Any crash, sanitizer report or
# broken invariant stops the script (libFuzzer leaves the input as crash-* in the build dir).
# Usage: scripts/fuzz.sh [RUNS] [HARNESS...]   (default 1000000, all)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
runs=${1:-1000000}
shift || true
all=(receive status history ip cli sim simfiles)
harnesses=("${@:-${all[@]}}")
build=build-fuzz
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQELN_FUZZ=ON -DQELN_TESTS=OFF -DQELN_BENCH=OFF "${launcher[@]}"
fi
targets=()
for name in "${harnesses[@]}"; do
    [[ -d "fuzz/seeds-$name" ]] || { echo "unknown harness '$name' (${all[*]})" >&2; exit 2; }
    targets+=("fuzz_$name")
done
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
# Undefined behaviour stops the run as a crash does (the build lets UBSan recover).
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
summary=()
for name in "${harnesses[@]}"; do
    corpus="$build/corpus-$name"
    mkdir -p "$corpus"
    cp "fuzz/seeds-$name"/* "$corpus"/
    log="$build/fuzz-$name.log"
    dict=()
    [[ -f "fuzz/$name.dict" ]] && dict=(-dict="$PWD/fuzz/$name.dict")
    start=$(date +%s)
    set +e
    (cd "$build" && "./fuzz/fuzz_$name" -runs="$runs" -timeout=5 -max_len=4096 -print_final_stats=1 \
        "${dict[@]}" "corpus-$name") 2>&1 | tee "$log" | grep -v '^#[0-9]*[[:space:]]*\(NEW\|REDUCE\)'
    status=${PIPESTATUS[0]}
    set -e
    seconds=$(( $(date +%s) - start ))
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    if [[ $status -ne 0 || -z "$execs" ]]; then
        echo "fuzz_$name failed after ${seconds}s (log: $log)" >&2
        exit 1
    fi
    summary+=("$(printf '%-10s %9s executions %6s s' "$name" "$execs" "$seconds")")
done
printf '%s\n' "${summary[@]}"

#!/usr/bin/env bash
# Builds the fuzzers with clang (libFuzzer, ASan, UBSan) and runs each for RUNS inputs:
# fuzz_receive (the console's assemblers and dispatchers) and fuzz_sim (the simulator's
# readers and protocol).
# Usage: scripts/fuzz.sh [RUNS] [HARNESS]   (default 1000000, both)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
runs=${1:-1000000}
only=${2:-}
build=build-fuzz
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQELN_FUZZ=ON -DQELN_TESTS=OFF -DQELN_BENCH=OFF
fi
for harness in fuzz_receive fuzz_sim; do
    [[ -z "$only" || "$only" == "$harness" ]] || continue
    cmake --build "$build" -j"$(nproc)" --target "$harness"
    seeds=fuzz/seeds
    [[ "$harness" == fuzz_sim ]] && seeds=fuzz/seeds-sim
    corpus="$build/corpus-$harness"
    mkdir -p "$corpus"
    cp "$seeds"/* "$corpus"/
    "$build/fuzz/$harness" -runs="$runs" -timeout=5 -max_len=4096 -print_final_stats=1 "$corpus"
done

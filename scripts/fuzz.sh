#!/usr/bin/env bash
# Builds the receive-path fuzzer with clang (libFuzzer, ASan, UBSan) and runs it.
# Usage: scripts/fuzz.sh [RUNS]   (default 1000000)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
runs=${1:-1000000}
build=build-fuzz
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQELN_FUZZ=ON -DQELN_TESTS=OFF -DQELN_BENCH=OFF
fi
cmake --build "$build" -j"$(nproc)" --target fuzz_receive
corpus="$build/corpus"
mkdir -p "$corpus"
cp fuzz/seeds/* "$corpus"/ 2>/dev/null || true
"$build/fuzz/fuzz_receive" -runs="$runs" -timeout=5 -max_len=4096 -print_final_stats=1 "$corpus"

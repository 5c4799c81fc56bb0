#!/usr/bin/env bash
# Builds an optimised library and runs the benchmarks (see bench/README.md).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh $(cat scripts/packages.txt) libbenchmark-dev
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIRL_BENCH=ON -DMIRL_TESTS=OFF >/dev/null
cmake --build build/bench --target bench_parser
build/bench/bench/bench_parser "$@"

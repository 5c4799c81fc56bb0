#!/usr/bin/env bash
# Parses every prefix of the example file and of every real sample under
# AddressSanitizer and UndefinedBehaviorSanitizer (the test command cuts the
# large files at chosen lengths only; this cuts them at every length, and
# files over 400 KB at every record boundary, two bytes either side, and
# 4000 random lengths):
#
#     scripts/every-prefix.sh [processes]
#
# processes  how many shards run side by side (default: the number of cores)
#
# Each prefix must fail with PARSER_E_INVALID_FILE while the whole file
# parses, the component must keep answering, and nothing may leak. The
# samples come from MIRL_SAMPLES_DIR at build time (default ../shared/samples).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh $(cat scripts/packages.txt)
processes=${1:-$(nproc)}
build=build/asan-rel
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRL_SANITIZE=ON \
  -DMIRL_TOOLS=OFF >/dev/null
cmake --build "$build" --target unit_tests
mkdir -p "$build/logs"
pids=()
for k in $(seq 0 $((processes - 1))); do
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} MIRL_EVERY_PREFIX=1 MIRL_PREFIX_SHARD="$k/$processes" \
    "$build/tests/unit_tests" --gtest_filter='Prefixes.*' >"$build/logs/prefixes-$k.log" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
for k in $(seq 0 $((processes - 1))); do
  echo "shard $k: $(grep -E '^\[  (PASSED|FAILED) ' "$build/logs/prefixes-$k.log" | tr '\n' ' ')"
done
echo "every prefix parsed in $SECONDS s"
exit "$status"

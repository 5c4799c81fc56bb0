#!/usr/bin/env bash
# Fuzzes the reader and every query method with libFuzzer, under
# AddressSanitizer and UndefinedBehaviorSanitizer:
#
#     scripts/fuzz.sh [seconds] [processes] [runs]
#
# seconds    how long to fuzz at most (default 600)
# processes  fuzzing processes at once (default 1; more use libFuzzer's fork
#            mode)
# runs       stop after this many executions (default: no limit)
#
# The seeds are written afresh by make_seeds (every record kind), joined by
# examples/example.d90 and the real samples of MIRL_SAMPLES_DIR (default
# ../shared/samples), which are linked, not copied. The corpus grows in
# build/fuzz/corpus from run to run (delete it to start over). Any crash,
# leak, undefined behaviour, time-out (30 s) or memory use beyond 2 GB stops
# the run, leaves the input in build/fuzz/findings/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh $(cat scripts/packages.txt)
seconds=${1:-600}
processes=${2:-1}
runs=${3:--1}
build=build/fuzz
samples=${MIRL_SAMPLES_DIR:-$(pwd)/../shared/samples}

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMIRL_FUZZ=ON -DMIRL_TESTS=OFF -DMIRL_TOOLS=OFF >/dev/null
cmake --build "$build" --target fuzz_parse make_seeds

seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds" "$build/corpus" "$build/findings"
"$build/fuzz/make_seeds" "$seeds"
ln -s "$(pwd)/examples/example.d90" "$seeds/example.d90"
if [ -d "$samples" ]; then
  for f in "$samples"/*/*.d90 "$samples"/*/*.d43; do
    if [ -f "$f" ]; then
      ln -s "$(cd "$(dirname "$f")" && pwd)/$(basename "$f")" \
        "$seeds/sample-$(basename "$(dirname "$f")")-$(basename "$f")"
    fi
  done
else
  echo "note: no samples at $samples; fuzzing from the generated seeds only"
fi

# Inputs are limited to 8 KiB: the real samples (up to 180 KB) take part as
# their first 8 KiB, and small inputs keep the runs fast. The whole samples
# are parsed and queried by the unit tests.
args=(-max_total_time="$seconds" -runs="$runs" -max_len=8192 -timeout=30 -rss_limit_mb=2048
      -artifact_prefix="$build/findings/" -print_final_stats=1)
if [ "$processes" -gt 1 ]; then
  args+=(-fork="$processes" -ignore_crashes=0 -ignore_timeouts=0 -ignore_ooms=0)
fi
echo "== fuzzing for $seconds s with $processes process(es)"
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
  "$build/fuzz/fuzz_parse" "${args[@]}" "$build/corpus" "$seeds"

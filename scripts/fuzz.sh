#!/usr/bin/env bash
# Fuzzes the reader and every query method (fuzz_parse), and every view of
# ubrofdump, text and JSON (fuzz_dump), with libFuzzer, under
# AddressSanitizer and UndefinedBehaviorSanitizer:
#
#     scripts/fuzz.sh [seconds] [processes] [runs] [target]
#
# seconds    how long to fuzz at most (default 600)
# processes  fuzzing processes at once (default 1), each with its log in
#            build/fuzz/logs; the script adds up their executions
# runs       stop after this many executions in all (default: no limit)
# target     fuzz_parse, fuzz_dump, or both (default): the reader then gets
#            three quarters of the time and of the runs, the tool the rest
#
# MIRL_FUZZ_BUILD names another build folder than build/fuzz.
#
# The seeds are written afresh by make_seeds (every record kind), joined by
# examples/example.d90 and the real samples of MIRL_SAMPLES_DIR (default
# ../shared/samples), which are linked, not copied. The corpus grows in
# build/fuzz/corpus from run to run (delete it to start over). Any crash,
# leak, undefined behaviour, time-out (30 s) or memory use beyond 2 GB stops
# the run, leaves the input in build/fuzz/findings/ and fails the script.
# Each target has a corpus of its own (corpus, corpus-dump).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh $(cat scripts/packages.txt)
seconds=${1:-600}
processes=${2:-1}
runs=${3:--1}
target=${4:-both}
build=${MIRL_FUZZ_BUILD:-build/fuzz}
samples=${MIRL_SAMPLES_DIR:-$(pwd)/../shared/samples}

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMIRL_FUZZ=ON -DMIRL_TESTS=OFF -DMIRL_TOOLS=ON >/dev/null
cmake --build "$build" --target fuzz_parse fuzz_dump make_seeds

seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds" "$build/corpus" "$build/corpus-dump" "$build/findings"
"$build/fuzz/make_seeds" "$seeds"
ln -s "$(pwd)/examples/example.d90" "$seeds/example.d90"
if [ -d "$samples" ]; then
  for f in "$samples"/*/*.d90 "$samples"/*/*.d43 "$samples"/*/*/*.d90 "$samples"/*/*/*.d43 \
    "$samples"/*/*/*.d51; do
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
args=(-max_len=8192 -timeout=30 -rss_limit_mb=2048
      -artifact_prefix="$build/findings/" -print_final_stats=1)
# A quarantine of 16 MB instead of 256 still holds every block one run frees
# (a run allocates a few MB at most), so a use after free is still caught;
# the default keeps handing out cold memory, and its page faults cost a
# quarter of the executions.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=16} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# fuzz NAME CORPUS SECONDS RUNS: one target, in one or several processes.
fuzz() {
  local name=$1 corpus=$2 secs=$3 limit=$4
  echo "== $name: fuzzing for $secs s with $processes process(es)"
  if [ "$processes" -le 1 ]; then
    "$build/fuzz/$name" "${args[@]}" -max_total_time="$secs" -runs="$limit" "$corpus" "$seeds"
    return
  fi
  # Several independent processes share the corpus folder (each picks up
  # what the others add). libFuzzer's fork mode would do the same with
  # short-lived jobs, whose start-up cost halves the executions on a small
  # machine.
  local logs=$build/logs per=-1 cpus i n total=0 status=0 pids=()
  mkdir -p "$logs"
  if [ "$limit" -ge 0 ]; then per=$(( (limit + processes - 1) / processes )); fi
  cpus=$(nproc)
  for i in $(seq 1 "$processes"); do
    # Each process on a core of its own: the kernel then has no other core
    # to tell when the sanitizer's allocator unmaps memory, which costs much
    # of the time of a large input otherwise.
    taskset -c $(( (i - 1) % cpus )) "$build/fuzz/$name" "${args[@]}" -max_total_time="$secs" \
      -runs="$per" -seed="$i" "$corpus" "$seeds" >"$logs/$name-$i.log" 2>&1 &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  for i in $(seq 1 "$processes"); do
    n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$name-$i.log")
    echo "process $i: ${n:-no final count} executions ($logs/$name-$i.log)"
    total=$((total + ${n:-0}))
  done
  echo "$name total: $total executions in $secs s"
  if [ "$status" -ne 0 ]; then
    echo "a fuzzing process stopped with a finding; see $logs and $build/findings"
    return 1
  fi
}

case "$target" in
  fuzz_parse) fuzz fuzz_parse "$build/corpus" "$seconds" "$runs" ;;
  fuzz_dump) fuzz fuzz_dump "$build/corpus-dump" "$seconds" "$runs" ;;
  both)
    quarter=$(( seconds / 4 > 0 ? seconds / 4 : 1 ))
    quarterRuns=-1
    if [ "$runs" -ge 0 ]; then quarterRuns=$(( runs / 4 )); fi
    fuzz fuzz_parse "$build/corpus" $(( seconds - quarter )) \
      $(( runs >= 0 ? runs - quarterRuns : -1 ))
    fuzz fuzz_dump "$build/corpus-dump" "$quarter" "$quarterRuns"
    ;;
  *)
    echo "unknown target $target: fuzz_parse, fuzz_dump or both" >&2
    exit 2
    ;;
esac

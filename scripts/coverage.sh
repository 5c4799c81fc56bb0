#!/usr/bin/env bash
# Line and branch coverage of the product code by the native test suite.
# Product code is every C/C++ file outside tests/, fuzz/, bench/ and
# examples/ that is not named *_test.* (as scripts/test-share.sh counts it);
# the rest is excluded from the report.
#
#     scripts/coverage.sh [build-dir]      (default build/coverage)
#
# Builds with gcc --coverage at -O0 in its own directory, runs ctest there,
# prints the line and branch totals and writes build/coverage/coverage.html
# (per file), coverage.txt and coverage.json (gcovr's JSON, which
# scripts/mutants.sh reads to mutate only lines the suite executes).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh $(cat scripts/packages.txt) gcovr
dir=${1:-build/coverage}
jobs=$(nproc)

# Atomic counters: the tests that parse on many threads would otherwise lose
# counts (and gcov would read negative ones).
flags="--coverage -O0 -fprofile-update=atomic"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$dir" -j"$jobs"
# Counters of an earlier run would add up with this one.
find "$dir" -name '*.gcda' -delete
(cd "$dir" && ctest --output-on-failure -j"$jobs") || echo "warning: some tests failed" >&2

# Excluded from the product: test code, fuzz targets, benchmarks, examples
# and whatever the build generated.
filters=(--root . --filter '.*'
  --exclude '(.+/)?tests/' --exclude '(.+/)?fuzz/' --exclude '(.+/)?bench/'
  --exclude '(.+/)?examples/' --exclude '.*_test\.[a-z]+$' --exclude '(.+/)?build/'
  --exclude '/usr/')
common=(--object-directory "$dir" --exclude-directories '.*/CMakeFiles/[0-9.]+$' --exclude-unreachable-branches --exclude-throw-branches
  --gcov-ignore-parse-errors -j"$jobs")
gcovr "${filters[@]}" "${common[@]}" \
  --txt "$dir/coverage.txt" --json "$dir/coverage.json" \
  --html-details "$dir/coverage.html" --json-summary "$dir/coverage-summary.json" >/dev/null
gcovr "${filters[@]}" "${common[@]}" --branches --txt "$dir/coverage-branches.txt" >/dev/null
python3 - "$dir/coverage-summary.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
print(f"lines:    {s['line_covered']}/{s['line_total']} = {s['line_percent']:.1f}%")
print(f"branches: {s['branch_covered']}/{s['branch_total']} = {s['branch_percent']:.1f}%")
PY
echo "report: $dir/coverage.html (per file), $dir/coverage.txt, $dir/coverage-branches.txt"

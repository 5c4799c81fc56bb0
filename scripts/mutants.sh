#!/usr/bin/env bash
# Mutation sample: how many small faults in the product code the native test
# suite notices, and which test notices each one.
#
#     scripts/mutants.sh [-n COUNT] [--seed S] [--jobs J] [--timeout SECONDS] [--list]
#
# Draws COUNT mutants (default 300) with seed S (default 1) from the product
# code (as scripts/test-share.sh counts it) on the lines the last
# scripts/coverage.sh run executed (every code line when build/coverage has no
# data): relational operators swapped, + and - swapped, ++ and -- swapped,
# integer constants off by one, if/while conditions negated, simple
# assignment and call statements deleted. Each mutant is applied to a copy
# of the checkout in /tmp/mirl-mutants-K (the checkout itself is never
# written), rebuilt incrementally in build/mutants/build-K and run against
# every test executable and ctest test, with a time-out for the whole suite
# (default 60 s, raised to three times the unmutated suite's time if that is
# longer). A mutant is killed when some test fails, survives when all pass.
# J workers (default 1) each take whole files. Results, with the tests that
# killed each mutant: build/mutants/results-seedS-nCOUNT.{csv,json} and
# -summary.txt. --list prints the sample without building anything.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh $(cat scripts/packages.txt)
mkdir -p build/mutants
# Two runs at once would share the build directories.
exec 9>build/mutants/lock
flock -n 9 || { echo "another scripts/mutants.sh is running" >&2; exit 1; }
exec python3 scripts/mutants.py "$@"

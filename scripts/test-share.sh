#!/usr/bin/env bash
# Test code against product code, in non-blank lines of the C and C++ files
# git tracks: test code is every such file under tests/ or fuzz/ (or named
# *_test.*), product code every other one. Golden texts and scripts are not
# counted. Usage: scripts/test-share.sh [REV]  (default: the working tree)
set -euo pipefail
cd "$(dirname "$0")/.."
rev=${1:-}
files() {
  if [ -n "$rev" ]; then git ls-tree -r --name-only "$rev"; else git ls-files; fi |
    grep -E '\.(c|cc|cpp|cxx|h|hh|hpp)$' || true
}
lines() {
  if [ -n "$rev" ]; then git show "$rev:$1"; else cat "$1"; fi | grep -cv '^[[:space:]]*$' || true
}
test=0 product=0
while read -r f; do
  n=$(lines "$f")
  case "$f" in
    tests/* | fuzz/* | *_test.*) test=$((test + n)) ;;
    *) product=$((product + n)) ;;
  esac
done < <(files)
echo "test lines:    $test"
echo "product lines: $product"
awk -v t="$test" -v p="$product" 'BEGIN { printf "share:         %.0f%% of the product lines\n", p ? 100 * t / p : 0 }'

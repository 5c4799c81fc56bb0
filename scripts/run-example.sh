#!/usr/bin/env bash
# Builds the library and ubrofdump, and dumps the example object file.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh $(cat scripts/packages.txt)
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target ubrofdump
build/release/tools/ubrofdump "$@" examples/example.d90

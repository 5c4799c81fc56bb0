#!/usr/bin/env bash
# Builds and runs every test: the native build, then the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the tests that use threads
# under ThreadSanitizer, a minute of fuzzing (scripts/fuzz.sh runs longer),
# then the Windows build (MinGW-w64 cross compiler) with its tests run under
# Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh $(cat scripts/packages.txt)
jobs=$(nproc)

echo "== native build and tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release
(cd build/release && ctest --output-on-failure -j"$jobs")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMIRL_SANITIZE=ON >/dev/null
cmake --build build/asan
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j"$jobs")

echo "== ThreadSanitizer: components parsed and queried on many threads"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRL_TSAN=ON \
  -DMIRL_TOOLS=OFF >/dev/null
cmake --build build/tsan --target threads_tests
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/threads_tests

echo "== fuzzing the reader and every query method for a minute"
scripts/fuzz.sh 60

echo "== Windows: MinGW-w64 cross build, tests under Wine"
scripts/deps.sh $(cat scripts/packages-windows.txt)
cmake -S . -B build/mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo --no-warn-unused-cli >/dev/null
cmake --build build/mingw
# Headless Wine in a prefix of its own inside the build directory.
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX="$PWD/build/mingw/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# One persistent wineserver for the whole run (each test would otherwise wait
# for Wine's background processes to end); stopped whatever happens.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineserver -p </dev/null >/dev/null 2>&1 || true  # one may be running already
# Creates the prefix if needed and starts Wine's services detached from the
# tests' output pipes.
build/mingw/wine-run.sh --boot
(cd build/mingw && ctest --output-on-failure -j"$jobs")

#!/usr/bin/env bash
# Builds and runs every test: the native build, then the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the tests that use threads
# under ThreadSanitizer, a minute of fuzzing (scripts/fuzz.sh runs longer),
# then the Windows build (MinGW-w64 cross compiler) with its tests run under
# Wine, for x64 and for x86.
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
# 32-bit Wine (for the x86 DLL) comes from Debian's i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO dpkg --add-architecture i386
fi
scripts/deps.sh $(cat scripts/packages-windows.txt scripts/packages-windows32.txt)
cmake -S . -B build/mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo --no-warn-unused-cli >/dev/null
cmake --build build/mingw
# Headless Wine in a prefix of its own inside the build directory.
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX="$PWD/build/mingw/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A prefix made before 32-bit Wine was installed starts no program once it
# is ("could not load kernel32.dll"); it is made afresh.
stale_prefix() { [ -d "$WINEPREFIX/drive_c/windows" ] && [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; }
if stale_prefix; then rm -rf "$WINEPREFIX"; fi
mkdir -p "$WINEPREFIX"
# One persistent wineserver for the whole run (each test would otherwise wait
# for Wine's background processes to end); stopped whatever happens.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineserver -p </dev/null >/dev/null 2>&1 || true  # one may be running already
# Creates the prefix if needed and starts Wine's services detached from the
# tests' output pipes.
build/mingw/wine-run.sh --boot
(cd build/mingw && ctest --output-on-failure -j"$jobs")

echo "== Windows, 32-bit: the x86 DLL for 32-bit hosts, registered beside the x64 one"
cmake -S . -B build/mingw32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRL_PEER_BUILD="$PWD/build/mingw" --no-warn-unused-cli >/dev/null
cmake --build build/mingw32
# A 64-bit (WoW64) prefix of its own, made with 32-bit Wine present: 32-bit
# programs run from syswow64 with the 32-bit registry view, as on 64-bit
# Windows, so both DLLs can be registered at once.
wineserver -k >/dev/null 2>&1 || true
export WINEPREFIX="$PWD/build/mingw32/wineprefix"
if stale_prefix; then rm -rf "$WINEPREFIX"; fi
wineserver -p </dev/null >/dev/null 2>&1 || true
build/mingw32/wine-run.sh --boot
(cd build/mingw32 && ctest --output-on-failure -j"$jobs")

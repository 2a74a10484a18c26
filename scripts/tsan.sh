#!/usr/bin/env bash
# ThreadSanitizer over the test engine and the transports under it: builds
# only their unit tests, in a tree of its own, and runs the tests labelled
# tsan. Usage: tsan.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-tsan}
cmake -S "$root" -B "$dir" -DHARROW_TSAN=ON -DHARROW_BENCH=OFF >/dev/null
# The libraries the tests load by name are built with them.
cmake --build "$dir" -j"$(nproc)" --target engine_tests transport_tests nox_tests aspi_tests raid_tests \
  wnaspi32 noxcomm orbamiraid
cd "$dir"
export XDG_CONFIG_HOME="$PWD/test-home/config" XDG_STATE_HOME="$PWD/test-home/state" \
       XDG_DATA_HOME="$PWD/test-home/data"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -j"$(nproc)" -L tsan

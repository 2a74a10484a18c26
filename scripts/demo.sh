#!/usr/bin/env bash
# Installs what running needs, builds the console program alone, and runs the
# main job on the built-in machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-demo"
"$root/scripts/install-deps.sh" run
cmake -S "$root" -B "$build" -DHARROW_TESTS=OFF -DHARROW_BENCH=OFF >/dev/null
# HarrowCLI with the libraries it links and the resource library it loads.
cmake --build "$build" -j"$(nproc)" --target HarrowCLI
# The built-in machine: list its devices, report on the Kestrel drive, then run
# half of its short self test (about 10 s).
"$build/bin/HarrowCLI" -l || true
"$build/bin/HarrowCLI" -i 0:0:0 || true
exec "$build/bin/HarrowCLI" -t 50% 0:0:0

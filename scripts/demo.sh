#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the built-in machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"
# The built-in machine: list its devices, report on the Kestrel drive, then run
# half of its short self test (about 10 s).
"$root/build/bin/HarrowCLI" -l || true
"$root/build/bin/HarrowCLI" -i 0:0:0 || true
exec "$root/build/bin/HarrowCLI" -t 50% 0:0:0

#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the built-in machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"
# The built-in machine: list its devices, then report on the Kestrel drive.
"$root/build/bin/HarrowCLI" -l || true
exec "$root/build/bin/HarrowCLI" -i 0:0:0

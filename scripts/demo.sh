#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the built-in machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"
exec "$root/build/bin/harrow_demo" "$@"

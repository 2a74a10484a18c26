#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" test
"$root/scripts/build.sh" "$root/build"
cd "$root/build"
# Tests never touch the user's own configuration or drive state.
export XDG_CONFIG_HOME="$PWD/test-home/config" XDG_STATE_HOME="$PWD/test-home/state" \
       XDG_DATA_HOME="$PWD/test-home/data"
ctest --output-on-failure -j"$(nproc)"

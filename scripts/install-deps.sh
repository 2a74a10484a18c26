#!/usr/bin/env bash
# Installs the Debian packages the project needs, only when missing.
# Usage: install-deps.sh [run|test]
#   run  (default) what building and running HarrowCLI needs
#   test           that, and what the windowed program, the tests, fuzzing,
#                  the benchmarks and the package checks need
set -euo pipefail
set_name=${1:-run}

run_packages=(g++ cmake make pkg-config nlohmann-json3-dev libiscsi-dev zlib1g-dev)
test_packages=(libgtest-dev libgmock-dev clang libclang-rt-14-dev tgt libiscsi-bin
               man-db dpkg-dev valgrind qt6-base-dev xvfb xauth python3 python3-jsonschema)

case "$set_name" in
  run)  packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *)    echo "usage: $0 [run|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

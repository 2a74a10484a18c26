#!/usr/bin/env bash
# Builds the device-server fuzzer with clang's libFuzzer and runs it for a
# bounded time. Usage: fuzz.sh SECONDS [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: fuzz.sh SECONDS [BUILD_DIR]}
out=${2:-$root/build-fuzz}
mkdir -p "$out/corpus"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "$root"/tests/fuzz/DriveFuzz.cpp "$root"/machine/drives/*.cpp \
  "$root"/platform/Kernel.cpp "$root"/platform/Handle.cpp \
  -lpthread -lz -o "$out/drive_fuzz"
cd "$out"
HARROW_TIME_SCALE=0.001 ./drive_fuzz -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 corpus

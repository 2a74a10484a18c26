#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer and runs each for a bounded
# time. Usage: fuzz.sh SECONDS [BUILD_DIR] [TARGET...] (default: every target)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: fuzz.sh SECONDS [BUILD_DIR] [TARGET...]}
out=${2:-$root/build-fuzz}
shift $(( $# >= 2 ? 2 : 1 ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(drive registry machine sense senseview cli iscsi sysfs logpage)

sources() {
  local drives=("$root"/machine/drives/*.cpp "$root"/platform/Kernel.cpp "$root"/platform/Handle.cpp
                "$root"/platform/ObjectName.cpp)
  case $1 in
    drive)    echo "$root/tests/fuzz/DriveFuzz.cpp ${drives[*]}" ;;
    registry) echo "$root/tests/fuzz/RegistryFuzz.cpp $root/platform/RegistryText.cpp $root/platform/RegistryKeyNode.cpp" ;;
    machine)  echo "$root/tests/fuzz/MachineFileFuzz.cpp $root/machine/MachineFile.cpp ${drives[*]}" ;;
    sense)    echo "$root/tests/fuzz/SenseTableFuzz.cpp $root/frontend/SenseDecoder.cpp $root/core/types/SenseView.cpp" ;;
    senseview) echo "$root/tests/fuzz/SenseViewFuzz.cpp $root/core/types/SenseView.cpp" ;;
    cli)      echo "$root/tests/fuzz/CommandLineFuzz.cpp $root/cli/CommandLine.cpp" ;;
    iscsi)    echo "$root/tests/fuzz/IscsiAnswerFuzz.cpp $root/machine/iscsi/LunReport.cpp $root/core/types/LunAddress.cpp
                    $root/machine/iscsi/IscsiTarget.cpp $root/machine/iscsi/IscsiPort.cpp
                    $root/machine/iscsi/IscsiSession.cpp $root/machine/PortLayout.cpp
                    $root/machine/PassThrough.cpp" ;;
    sysfs)    echo "$root/tests/fuzz/SysfsFuzz.cpp $root/machine/linux/SysfsTopology.cpp
                    $root/machine/linux/VirtualBuses.cpp" ;;
    logpage)  echo "$root/tests/fuzz/LogPageFuzz.cpp $root/frontend/LogPageView.cpp $root/frontend/LogPageDecoders.cpp" ;;
    *) echo "unknown fuzz target $1" >&2; return 1 ;;
  esac
}

libraries() {
  case $1 in
    iscsi) echo "-liscsi" ;;
  esac
}

for target in "${targets[@]}"; do
  src=$(sources "$target")
  mkdir -p "$out/$target/corpus"
  # Seeds kept in the tree are read, never written: new finds go to corpus/.
  seeds=()
  [ -d "$root/tests/fuzz/corpus/$target" ] && seeds=("$root/tests/fuzz/corpus/$target")
  # shellcheck disable=SC2086  # the source list splits on purpose
  clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined,float-cast-overflow \
    -fno-sanitize-recover=undefined,float-cast-overflow -I"$root" $src -lpthread -lz $(libraries "$target") -o "$out/$target/fuzz"
  echo "== Fuzzing: $target ($seconds s) =="
  (cd "$out/$target" && HARROW_TIME_SCALE=0.001 ./fuzz -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=0 corpus "${seeds[@]}")
done

#!/usr/bin/env bash
# Runs every benchmark and prints one table: benchmark, figure, target,
# MET or MISSED. Exits non-zero when a target is missed or a benchmark gives
# no verdict. --quick shortens the long iSCSI test (under 5 minutes on 2
# cores). iscsi_bench keeps its seven rounds in both: a loopback target's
# rounds spread widely, and a median of three missed on one disturbed round.
# The iSCSI benchmarks need root and Debian's tgt and libiscsi-bin; without
# them their lines say so and count as missed.
# Usage: bench/run-all.sh [--quick] [BUILD_DIR]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
if [ "${1:-}" = --quick ]; then quick=1; shift; fi
build=$(cd "${1:-$root/build}" && pwd)
bin=$build/bin
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

if [ $quick = 1 ]; then
  iscsi_args=(2 7); iscsi_long_args=(3)
else
  iscsi_args=(2 7); iscsi_long_args=(5)
fi

benchmarks=(machine_bench transport_bench aspi_bench nox_bench disk_store_bench log_latency engine_bench
            system_bench verify_overhead gui_bench iscsi_bench iscsi_long_bench health_bench)

run() {
  local name=$1
  case $name in
    verify_overhead) bash "$root/bench/verify_overhead.sh" "$build" ;;
    gui_bench) QT_QPA_PLATFORM=offscreen "$bin/gui_bench" ;;
    iscsi_bench) "$bin/iscsi_bench" "${iscsi_args[@]}" ;;
    iscsi_long_bench) "$bin/iscsi_long_bench" "${iscsi_long_args[@]}" ;;
    *) "$bin/$name" ;;
  esac
}

status=0
rows=()
for name in "${benchmarks[@]}"; do
  if [ "$name" != verify_overhead ] && [ ! -x "$bin/$name" ]; then
    rows+=("$name|not built||MISSED"); status=1; continue
  fi
  echo "== $name" >&2
  (cd "$logs" && run "$name") >"$logs/$name.out" 2>&1
  code=$?
  sed 's/^/  /' "$logs/$name.out" >&2
  found=0
  missed=0
  # "<what>: <figure> (target <bound>) MET|MISSED"
  while IFS= read -r line; do
    if [[ $line =~ ^(.*):\ (.*)\ \(target\ (.*)\)\ (MET|MISSED)$ ]]; then
      rows+=("$name|${BASH_REMATCH[1]}: ${BASH_REMATCH[2]}|${BASH_REMATCH[3]}|${BASH_REMATCH[4]}")
      found=1
      [ "${BASH_REMATCH[4]}" = MISSED ] && missed=1
    fi
  done <"$logs/$name.out"
  if [ $found = 0 ]; then
    rows+=("$name|no verdict (exit $code): $(tail -n 1 "$logs/$name.out")||MISSED"); status=1
  elif [ $missed = 1 ]; then
    status=1
  elif [ $code != 0 ]; then
    rows+=("$name|exit $code with every target met||MISSED"); status=1
  fi
done

printf '\n| %s | %s | %s | %s |\n|---|---|---|---|\n' benchmark figure target verdict
for row in "${rows[@]}"; do
  IFS='|' read -r name figure target verdict <<<"$row"
  printf '| %s | %s | %s | %s |\n' "$name" "$figure" "$target" "$verdict"
done
exit $status

#!/usr/bin/env bash
# A throw-away iSCSI target for end-to-end tests, the shell twin of TgtTarget.h.
#   tgt-target.sh start DIR [MIB ...]   tgtd on a free loopback port, one LUN per
#                                       size (default one LUN of 64 MiB); prints
#                                       the iscsi:// URL, also kept in DIR/url
#   tgt-target.sh stop DIR              stops that tgtd by its PID, removes DIR
# Callers stop it whatever happens: trap 'tgt-target.sh stop "$dir"' EXIT
set -euo pipefail
iqn=iqn.2026-12.org.harrow:test

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

start() {
  local dir=$1; shift
  mkdir -p "$dir"
  local port control
  port=$(free_port)
  control=$(( 1000 + ($$ * 7) % 30000 ))
  tgtd -f -C "$control" --iscsi portal=127.0.0.1:"$port" >"$dir/tgtd.log" 2>&1 &
  echo $! >"$dir/tgtd.pid"
  echo "$control" >"$dir/control"
  local tries=0
  until tgtadm -C "$control" --mode portal --op show 2>/dev/null | grep -q "127.0.0.1:$port,"; do
    tries=$((tries + 1))
    if [ "$tries" -ge 100 ] || ! kill -0 "$(cat "$dir/tgtd.pid")" 2>/dev/null; then
      echo "tgtd did not come up (see $dir/tgtd.log)" >&2
      # By PID only: the control port may be another tgtd's.
      kill -KILL "$(cat "$dir/tgtd.pid")" 2>/dev/null || true
      rm -f "$dir/tgtd.pid"
      return 1
    fi
    sleep 0.05
  done
  tgtadm -C "$control" --lld iscsi --mode target --op new --tid 1 --targetname "$iqn"
  local lun=1
  for mib in "${@:-64}"; do
    truncate -s "${mib}M" "$dir/lun$lun.img"
    tgtadm -C "$control" --lld iscsi --mode logicalunit --op new --tid 1 --lun "$lun" \
      --backing-store "$dir/lun$lun.img"
    lun=$((lun + 1))
  done
  tgtadm -C "$control" --lld iscsi --mode target --op bind --tid 1 --initiator-address ALL
  echo "iscsi://127.0.0.1:$port/$iqn" | tee "$dir/url"
}

stop() {
  local dir=$1
  [ -f "$dir/tgtd.pid" ] || { rm -rf "$dir"; return 0; }
  local pid control
  pid=$(cat "$dir/tgtd.pid")
  control=$(cat "$dir/control")
  if kill -0 "$pid" 2>/dev/null; then
    tgtadm -C "$control" --lld iscsi --mode target --op delete --force --tid 1 >/dev/null 2>&1 || true
    tgtadm -C "$control" --mode system --op delete >/dev/null 2>&1 || true
    for _ in $(seq 1 60); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  *) echo "usage: $0 start DIR [MIB ...] | stop DIR" >&2; exit 2 ;;
esac

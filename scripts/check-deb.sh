#!/usr/bin/env bash
# Builds the Debian package and installs it with apt-get into a clean Debian 12
# chroot (made with debootstrap when the folder holds none yet), then runs
# HarrowCLI -l from the installed package. Needs root and the network.
# Usage: check-deb.sh CHROOT_DIR [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: check-deb.sh CHROOT_DIR [BUILD_DIR]}
build=${2:-$root/build}

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/harrow_*.deb | head -n 1)
if [ ! -x "$target/usr/bin/apt-get" ]; then
  debootstrap --variant=minbase bookworm "$target" http://deb.debian.org/debian
fi
mount -t proc proc "$target/proc"
trap 'umount "$target/proc"' EXIT
cp "$deb" "$target/tmp/"
chroot "$target" apt-get update -qq
chroot "$target" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "/tmp/$(basename "$deb")"
chroot "$target" env -i PATH=/usr/bin:/bin HOME=/root sh -c 'cd /tmp && HarrowCLI -l'

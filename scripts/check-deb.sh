#!/usr/bin/env bash
# Builds the .deb, installs it into a fresh Debian 12 root made by debootstrap and runs
# `rksnap demo` there from the installed files. Needs root and Debian's mirror.
#   scripts/check-deb.sh [ROOT]   (ROOT: reuse a debootstrap folder instead of a new one)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" = 0 ] || { echo "check-deb: run as root (debootstrap, chroot)" >&2; exit 64; }
command -v debootstrap >/dev/null || apt-get install -y debootstrap

cmake --preset default -G Ninja >/dev/null
cmake --build build/default --target rkso_eseries rkhost rksnap cimq smis-sim man_pages
(cd build/default && cpack -G DEB >/dev/null)
deb=$(ls -t build/default/rksnap_*.deb | head -1)

root=${1:-}
if [ -z "$root" ]; then
  root=$(mktemp -d /var/tmp/rksnap-deb12.XXXXXX)
  trap 'umount -l "$root/proc" "$root/dev" 2>/dev/null || true; rm -rf --one-file-system "$root"' EXIT
  debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >/dev/null
else
  trap 'umount -l "$root/proc" "$root/dev" 2>/dev/null || true' EXIT
fi
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
cp "$deb" "$root/tmp/"
chroot "$root" apt-get install -y "./tmp/$(basename "$deb")" </dev/null >/dev/null
chroot "$root" sh -c 'command -v rksnap && man -w rksnap 2>/dev/null; rksnap demo'

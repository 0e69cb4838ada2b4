#!/usr/bin/env bash
# Proves the README's two commands where nothing is installed: builds a minimal Debian 12 root with
# mmdebstrap from this machine's apt sources, copies in this checkout (tracked files only), and runs
# scripts/demo.sh and scripts/test.sh inside it, as root of a chroot with its own mount and PID
# namespaces. The chroot gets /proc and /sys, and a /dev of its own made with mknod (never the
# machine's /dev bound in), so a test that replaces a device node cannot harm the machine.
#
# Usage: scripts/fresh-debian.sh [command...]   (default: scripts/demo.sh && scripts/test.sh)
# Environment: FRESH_ROOT  where to build the root (default: a new folder under /var/tmp; removed
#                          afterwards unless FRESH_KEEP=1)
set -euo pipefail
cd "$(dirname "$0")/.."
top="$(pwd)"
[ "$(id -u)" = 0 ] || { echo "fresh-debian.sh: must run as root (chroot, mknod, mounts)" >&2; exit 2; }
command -v mmdebstrap >/dev/null || scripts/install-deps.sh --ci

root="${FRESH_ROOT:-$(mktemp -d /var/tmp/fresh-debian.XXXXXX)}"
cleanup() { [ "${FRESH_KEEP:-0}" = 1 ] || rm -rf --one-file-system "$root"; }
trap cleanup EXIT

# The machine's own sources (and its apt settings for them, such as a snapshot archive whose
# Release files are past their validity), so the root sees the packages this machine sees.
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list; do
  [ -s "$f" ] && sources+=("$f")
done
aptopts=()
for f in /etc/apt/apt.conf.d/*; do
  grep -q 'Acquire::' "$f" 2>/dev/null && aptopts+=(--aptopt="$f")
done
echo "== building a minimal bookworm root in $root"
mmdebstrap --mode=root --variant=minbase --include=ca-certificates,debian-archive-keyring "${aptopts[@]}" \
  bookworm "$root" "${sources[@]}"

# What makes the registries answer here as they do on this machine: extra CAs (a TLS-inspecting
# egress), npm settings, name resolution.
mkdir -p "$root/usr/local/share/ca-certificates"
cp -a /usr/local/share/ca-certificates/. "$root/usr/local/share/ca-certificates/" 2>/dev/null || true
for f in /etc/npmrc /usr/etc/npmrc /root/.npmrc /etc/resolv.conf /etc/hosts; do
  [ -e "$f" ] && mkdir -p "$root$(dirname "$f")" && cp -L "$f" "$root$f"
done
chroot "$root" update-ca-certificates >/dev/null

echo "== copying the checkout to /src"
mkdir -p "$root/src"
git ls-files -z | tar -C "$top" --null -T - -cf - | tar -C "$root/src" -xf -

command=("$@")
[ ${#command[@]} -gt 0 ] || command=(sh -c 'scripts/demo.sh && scripts/test.sh')
echo "== running in the fresh root: ${command[*]}"
# Everything mounted here lives in the new mount namespace and goes with it.
unshare --mount --pid --fork --propagation private -- chroot "$root" /bin/bash -euc '
  mount -t proc proc /proc
  mount -t sysfs sysfs /sys
  mount -t tmpfs -o mode=755,nosuid dev /dev
  mknod -m 666 /dev/null c 1 3;  mknod -m 666 /dev/zero c 1 5;   mknod -m 666 /dev/full c 1 7
  mknod -m 666 /dev/random c 1 8; mknod -m 666 /dev/urandom c 1 9; mknod -m 666 /dev/tty c 5 0
  mknod -m 666 /dev/fuse c 10 229
  mkdir -p /dev/pts /dev/shm
  mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts /dev/pts
  ln -s pts/ptmx /dev/ptmx
  mount -t tmpfs -o mode=1777 shm /dev/shm
  ln -s /proc/self/fd /dev/fd; ln -s fd/0 /dev/stdin; ln -s fd/1 /dev/stdout; ln -s fd/2 /dev/stderr
  mount -t tmpfs -o mode=1777 tmp /tmp
  cd /src
  exec "$@"
' fresh-root "${command[@]}"

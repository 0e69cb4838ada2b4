#!/usr/bin/env bash
# Installs what the project needs on Debian 12: the one list of it.
# Usage: scripts/install-deps.sh [--ci] [--bench]
#   (no option)  build, tests and demo: compilers, libraries, the WebDAV servers the tests start
#   --ci         also what CI adds around the tests: a fresh Debian root (mmdebstrap), fuzzers (clang)
#   --bench      also the peers and tools of the benchmarks and the performance report
set -euo pipefail

packages=(
  build-essential cmake pkg-config git ca-certificates
  libcurl4-openssl-dev libxml2-dev libjansson-dev libevent-dev libfuse3-dev fuse3
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  lighttpd lighttpd-mod-webdav lighttpd-mod-openssl apache2 apache2-utils
  nginx libnginx-mod-http-dav-ext rclone php-cli php-sabre-dav chezdav
  openssl curl python3 tzdata procps util-linux attr
)
for option in "$@"; do
  case "$option" in
    --ci) packages+=(mmdebstrap clang libclang-rt-14-dev) ;;
    --bench) packages+=(davfs2 gnuplot-nox iproute2 linux-perf hyperfine valgrind iptables libnetfilter-queue-dev) ;;
    *) echo "install-deps.sh: unknown option $option" >&2; exit 2 ;;
  esac
done
# Node.js may come from another repository on some machines; only add Debian's when absent.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

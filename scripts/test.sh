#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test once.
# Usage: scripts/test.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
scripts/install-deps.sh
# The npm WebDAV server of the end-to-end suite, installed once into the build area.
tests/servers/setup-node.sh >/dev/null
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${WEBDAV_CMAKE_ARGS:-}
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)" ${WEBDAV_CTEST_ARGS:-}

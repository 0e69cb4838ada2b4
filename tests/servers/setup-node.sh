#!/usr/bin/env bash
# Installs the npm package webdav-server (pinned) into a directory of the
# build area, once; start.sh calls it when the package is missing.
#
#   setup-node.sh [dir]     default: $WEBDAV_NODE_DIR or <repo>/build/servers-node
#
# Prints the directory that holds node_modules.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
dir="${1:-${WEBDAV_NODE_DIR:-$here/../../build/servers-node}}"
version=2.6.3

mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
# Test processes may start several servers at once: one installs, the
# others wait for it.
exec 9>"$dir/.install.lock"
flock 9
if [ ! -f "$dir/node_modules/webdav-server/package.json" ] ||
  ! grep -q "\"version\": \"$version\"" "$dir/node_modules/webdav-server/package.json"; then
  command -v npm >/dev/null || { echo "setup-node.sh: npm is missing" >&2; exit 1; }
  [ -f "$dir/package.json" ] || echo '{ "name": "webdav-test-servers", "private": true }' >"$dir/package.json"
  if ! npm install --prefix "$dir" --no-audit --no-fund --no-save --loglevel=error \
    "webdav-server@$version" >"$dir/npm-install.log" 2>&1; then
    cat "$dir/npm-install.log" >&2
    echo "setup-node.sh: npm install webdav-server@$version failed" >&2
    exit 1
  fi
fi
echo "$dir"

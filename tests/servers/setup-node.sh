#!/usr/bin/env bash
# Installs the npm package webdav-server (pinned) once into [dir] (default $WEBDAV_NODE_DIR or
# <repo>/build/servers-node) and prints the directory that holds node_modules.
set -euo pipefail
dir="${1:-${WEBDAV_NODE_DIR:-$(dirname "${BASH_SOURCE[0]}")/../../build/servers-node}}"
version=2.6.3
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
# Several servers may start at once: one installs, the others wait for it.
exec 9>"$dir/.install.lock"
flock 9
if ! grep -qs "\"version\": \"$version\"" "$dir/node_modules/webdav-server/package.json"; then
  [ -f "$dir/package.json" ] || echo '{ "name": "webdav-test-servers", "private": true }' >"$dir/package.json"
  npm install --prefix "$dir" --no-audit --no-fund --no-save --loglevel=error \
    "webdav-server@$version" >"$dir/npm-install.log" 2>&1 ||
    { cat "$dir/npm-install.log" >&2; echo "setup-node.sh: npm install failed" >&2; exit 1; }
fi
echo "$dir"

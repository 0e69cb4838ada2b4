#!/usr/bin/env bash
# The main job, end to end on a fresh Debian 12 machine: installs what is needed, builds the
# plug-in and davctl (the command-line host that loads it with dlopen), starts a real WebDAV
# server (lighttpd with Basic authentication on 127.0.0.1), fills it with a few files and takes
# davctl through them. The server is stopped and its files removed on exit.
# Usage: scripts/demo.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${WEBDAV_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --target davctl -j"$(nproc)"
davctl="$(pwd)/$build/davctl"

work="$(mktemp -d /tmp/webdav-demo.XXXXXX)"
# The server may drop to a service account, which must reach its folder inside.
chmod 755 "$work"
# By absolute path: the demo changes into its local folder before it ends.
servers="$(pwd)/tests/servers"
cleanup() {
  "$servers/stop.sh" "$work/server" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

user=demo
password="demo-$RANDOM$RANDOM"
url="$("$servers/start.sh" lighttpd "$work/server" --auth basic --user "$user" --password "$password")"
root="$work/server/root"

# A small tree on the server's side of the disk.
mkdir -p "$root/docs" "$root/photos"
printf 'Hello from the WebDAV demo.\nThis line is the second one.\n' >"$root/docs/readme.txt"
printf '# Notes\n\n- list\n- read\n- upload\n' >"$root/docs/notes.md"
head -c 300000 /dev/urandom >"$root/photos/beach.jpg"
# The server may run under a service account: hand it the new files.
if [ "$(id -u)" = 0 ]; then chown -R --reference="$root" "$root"; fi

# Credentials travel in the environment, never on a command line.
export WEBDAV_URL="$url" WEBDAV_USER="$user" WEBDAV_PASSWORD="$password"
mkdir -p "$work/local"
head -c 5000000 /dev/urandom >"$work/local/report.bin"
cd "$work/local"

step() {
  echo
  echo "\$ davctl $*"
  "$davctl" "$@"
}

echo "WebDAV server: $url (user $user)"
step test
step ls -l
step ls -l /docs
step put report.bin /docs
step ls -l /docs
step get /docs/readme.txt - --offset 6 --length 22
echo
step get /docs/report.bin copy.bin
cmp report.bin copy.bin
echo "(copy.bin is identical to report.bin)"
step mv /docs/report.bin /photos/report-2024.bin
step ls -l /photos
step rm /photos/report-2024.bin
step mkdir /archive
step rmdir /archive
step ls --json /docs

echo
echo "\$ davctl stat /docs/missing.txt"
status=0
"$davctl" stat /docs/missing.txt || status=$?
echo "(exit status $status: not found)"
[ "$status" = 5 ]

echo
echo "Demo complete."

#!/usr/bin/env bash
# Stops what start.sh started in <workdir>: its watchdog, then the server's whole process
# group, politely first. Safe to call twice.
set -uo pipefail
[ $# -eq 1 ] || { echo "usage: stop.sh <workdir>" >&2; exit 2; }
group() { grep -xE '[0-9]+' "$1/$2" 2>/dev/null; }
# The watchdog, unless it is the one running us.
if w="$(group "$1" watchdog.pgid)" && [ "$w" != $$ ]; then kill -KILL -- "-$w" 2>/dev/null; fi
rm -f "$1/watchdog.pgid"
pgid="$(group "$1" server.pgid)" || { rm -f "$1/server.pgid"; exit 0; }
# Members that exited but wait to be reaped (by init, in its own time) no longer count.
alive() { ps -eo pgid=,stat= | awk -v g="$pgid" '$1 == g && $2 !~ /^Z/ { f = 1 } END { exit !f }'; }
for signal in TERM KILL; do
  alive || break
  kill -"$signal" -- "-$pgid" 2>/dev/null
  for _ in $(seq 50); do alive || break; sleep 0.1; done
done
rm -f "$1/server.pgid"
! alive || { echo "stop.sh: process group $pgid is still alive" >&2; exit 1; }

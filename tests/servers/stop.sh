#!/usr/bin/env bash
# Stops the server that tests/servers/start.sh started in <workdir>: the whole
# process group, politely first, then for good. Safe to call twice.
set -uo pipefail

[ $# -eq 1 ] || { echo "usage: stop.sh <workdir>" >&2; exit 2; }
# The watchdog start.sh left behind, unless it is the one stopping us.
watchdog="$1/watchdog.pgid"
if [ -f "$watchdog" ]; then
  w="$(cat "$watchdog")"
  case "$w" in '' | *[!0-9]*) ;; *) [ "$w" = "$$" ] || kill -KILL -- "-$w" 2>/dev/null ;; esac
  rm -f "$watchdog"
fi

pidfile="$1/server.pgid"
[ -f "$pidfile" ] || exit 0
pgid="$(cat "$pidfile")"
case "$pgid" in '' | *[!0-9]*) rm -f "$pidfile"; exit 0 ;; esac

# A member that has exited but not yet been reaped (its parent is init, which
# may take its time) no longer counts.
alive() {
  ps -eo pgid=,stat= | awk -v g="$pgid" '$1 == g && $2 !~ /^Z/ { found = 1 } END { exit !found }'
}

if alive; then
  kill -TERM -- "-$pgid" 2>/dev/null
  for _ in $(seq 1 50); do
    alive || break
    sleep 0.1
  done
  if alive; then
    kill -KILL -- "-$pgid" 2>/dev/null
    for _ in $(seq 1 20); do
      alive || break
      sleep 0.1
    done
  fi
fi
rm -f "$pidfile"
if alive; then
  echo "stop.sh: process group $pgid is still alive" >&2
  exit 1
fi
exit 0

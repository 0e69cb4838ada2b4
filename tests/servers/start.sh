#!/usr/bin/env bash
# Starts a real WebDAV server on a free loopback port as a child process with
# configuration of our own, every file of it under <workdir>.
#
#   start.sh <kind> <workdir> [--auth basic|digest|none] [--tls] [--user U --password P]
#
# kind: lighttpd, apache, nginx, rclone, sabredav, webdav-server.
# Serves <workdir>/root at <base URL> = http(s)://127.0.0.1:PORT/dav, prints the
# base URL on stdout and writes it to <workdir>/url. tests/servers/stop.sh
# <workdir> stops it. On failure the server's log goes to stderr and the exit
# status is not 0; nothing is left running.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

die() {
  echo "start.sh: $*" >&2
  exit 1
}

usage() {
  die "usage: start.sh <kind> <workdir> [--auth basic|digest|none] [--tls] [--user U --password P]"
}

[ $# -ge 2 ] || usage
kind="$1"
workdir="$2"
shift 2
auth=basic
tls=0
user=alice
password=secret
while [ $# -gt 0 ]; do
  case "$1" in
    --auth) [ $# -ge 2 ] || usage; auth="$2"; shift 2 ;;
    --tls) tls=1; shift ;;
    --user) [ $# -ge 2 ] || usage; user="$2"; shift 2 ;;
    --password) [ $# -ge 2 ] || usage; password="$2"; shift 2 ;;
    *) usage ;;
  esac
done
case "$auth" in basic | digest | none) ;; *) die "unknown --auth '$auth'" ;; esac
case "$user" in *:*) die "a user name must not hold ':'" ;; esac
[ -f "$here/$kind.sh" ] || die "unknown server kind '$kind'"

mkdir -p "$workdir"
workdir="$(cd "$workdir" && pwd)"
root="$workdir/root"
mkdir -p "$root"
[ ! -e "$workdir/server.pgid" ] || die "$workdir already has a running server (server.pgid)"

realm="webdav-test"
scheme=http
[ "$tls" = 1 ] && scheme=https

# The system interpreter when there is one: version-manager shims cost half
# a second per call.
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3

free_port() {
  "$python" -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

# Self-signed certificate for 127.0.0.1, made fresh for every server.
make_certificate() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=127.0.0.1" \
    -addext "subjectAltName=IP:127.0.0.1" \
    -keyout "$workdir/key.pem" -out "$workdir/cert.pem" >"$workdir/openssl.log" 2>&1 ||
    { cat "$workdir/openssl.log" >&2; die "openssl could not make a certificate"; }
  cat "$workdir/cert.pem" "$workdir/key.pem" >"$workdir/server.pem"
}

# user:apr1-hash, the one crypt form every htpasswd reader here accepts.
write_htpasswd() {
  printf '%s:%s\n' "$user" "$(openssl passwd -apr1 "$password")" >"$workdir/htpasswd"
}

# user:realm:MD5(user:realm:password), as htdigest writes it.
write_htdigest() {
  local ha1
  ha1="$(printf '%s:%s:%s' "$user" "$realm" "$password" | md5sum | cut -d' ' -f1)"
  printf '%s:%s:%s\n' "$user" "$realm" "$ha1" >"$workdir/htdigest"
}

# Servers that drop root privileges to a service account must be able to
# write the tree they serve.
run_user=""
give_tree_to_run_user() {
  if [ "$(id -u)" = 0 ]; then
    run_user=www-data
    id "$run_user" >/dev/null 2>&1 || run_user=nobody
    chown -R "$run_user:" "$workdir"
  fi
}

# Each kind's script defines server_prepare, which writes the configuration
# for $port and fills server_cmd; it may refuse an option it cannot offer.
server_cmd=()
server_env=()
# shellcheck source=/dev/null
. "$here/$kind.sh"

[ "$tls" = 0 ] || make_certificate

log="$workdir/server.log"
url=""
attempt=0
while :; do
  attempt=$((attempt + 1))
  port="$(free_port)"
  url="$scheme://127.0.0.1:$port/dav"
  server_cmd=()
  server_prepare
  : >"$log"
  # A session of its own, so stop.sh can end the server and all its children
  # through one process group.
  env ${server_env[@]+"${server_env[@]}"} setsid "${server_cmd[@]}" </dev/null >>"$log" 2>&1 &
  pid=$!
  echo "$pid" >"$workdir/server.pgid"

  ready=0
  for _ in $(seq 1 150); do
    if ! kill -0 "$pid" 2>/dev/null; then break; fi
    code="$(curl -s -k -o /dev/null -w '%{http_code}' --max-time 2 -X OPTIONS "$url/" || true)"
    if [ -n "$code" ] && [ "$code" != 000 ]; then
      ready=1
      break
    fi
    sleep 0.1
  done
  [ "$ready" = 1 ] && break

  "$here/stop.sh" "$workdir" >/dev/null 2>&1 || true
  # Another process may have taken the port between our pick and the bind.
  if [ "$attempt" -lt 3 ] && grep -qiE "in use|EADDRINUSE|could not bind|make_sock" "$log"; then
    continue
  fi
  {
    echo "start.sh: $kind did not answer at $url"
    echo "----- server command: ${server_cmd[*]}"
    echo "----- $log:"
    cat "$log"
    for f in "$workdir"/*.log; do
      [ "$f" = "$log" ] && continue
      [ -s "$f" ] || continue
      echo "----- $f:"
      cat "$f"
    done
  } >&2
  exit 1
done

# Should our owner (the test process, or whoever set WEBDAV_SERVER_OWNER) die
# without calling stop.sh, the server goes with it instead of lingering.
owner="${WEBDAV_SERVER_OWNER:-$PPID}"
setsid bash -c 'while kill -0 "$1" 2>/dev/null && [ -f "$2/server.pgid" ]; do sleep 1; done
  [ -f "$2/server.pgid" ] && exec "$3" "$2"' watchdog "$owner" "$workdir" "$here/stop.sh" \
  </dev/null >/dev/null 2>&1 &
echo $! >"$workdir/watchdog.pgid"

echo "$url" >"$workdir/url"
echo "$url"

#!/usr/bin/env bash
# Starts a real WebDAV server on a free loopback port, all its files under <workdir>, serving
# <workdir>/root at http(s)://127.0.0.1:PORT/dav, and prints that URL (usage: README.md).
# <kind>.sh defines server_prepare: the configuration for $port, the command in server_cmd.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
die() { echo "start.sh: $*" >&2 && exit 1; }
usage() { die "usage: start.sh <kind> <workdir> [--auth basic|digest|none] [--tls] [--user U --password P] [--cert PEM --key PEM] [--client-ca PEM]"; }

[ $# -ge 2 ] || usage
kind="$1" workdir="$2"
shift 2
auth=basic tls=0 user=alice password=secret cert="" key="" client_ca=""
while [ $# -gt 0 ]; do
  case "$1" in
    --tls) tls=1 && shift ;;
    --auth | --user | --password | --cert | --key | --client-ca)
      [ $# -ge 2 ] || usage && name="${1#--}" && declare "${name//-/_}=$2" && shift 2 ;;
    *) usage ;;
  esac
done
case "$auth" in basic | digest | none) ;; *) die "unknown --auth '$auth'" ;; esac
case "$user" in *:*) die "a user name must not hold ':'" ;; esac
[ -f "$here/$kind.sh" ] || die "unknown server kind '$kind'"
[ "${cert:+1}" = "${key:+1}" ] || die "--cert and --key go together"
[ -z "$client_ca" ] || [ "$kind" = apache ] || die "--client-ca is for apache"
[ -z "$cert$client_ca" ] || tls=1
mkdir -p "$workdir/root"
workdir="$(cd "$workdir" && pwd)" root="$workdir/root"
[ ! -e "$workdir/server.pgid" ] || die "$workdir already has a running server"

realm=webdav-test scheme=http authfmt=htpasswd
[ "$tls" = 0 ] || scheme=https
[ "$auth" != digest ] || authfmt=htdigest
authfile="$workdir/$authfmt"
# user:apr1-hash (the crypt form every reader here takes); user:realm:MD5(user:realm:password).
printf '%s:%s\n' "$user" "$(openssl passwd -apr1 -stdin <<<"$password")" >"$workdir/htpasswd"
ha1="$(printf '%s:%s:%s' "$user" "$realm" "$password" | md5sum | cut -d' ' -f1)"
printf '%s:%s:%s\n' "$user" "$realm" "$ha1" >"$workdir/htdigest"
# What the servers run by a script of ours read.
export DAV_WORK="$workdir" DAV_ROOT="$root" DAV_AUTH="$auth" DAV_REALM="$realm" DAV_USER="$user" \
  DAV_PASSWORD="$password" DAV_TLS="$tls" DAV_PORT=""
if [ -n "$cert" ]; then
  cp "$cert" "$workdir/cert.pem" && cp "$key" "$workdir/key.pem"
elif [ "$tls" = 1 ]; then
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout "$workdir/key.pem" \
    -out "$workdir/cert.pem" >"$workdir/openssl.log" 2>&1 || die "openssl: $(cat "$workdir/openssl.log")"
fi
[ -z "$client_ca" ] || cp "$client_ca" "$workdir/client-ca.pem"
# As root, servers that can drop to a service account do; that account must own the tree.
run_user="" run_group=""
if [ "$(id -u)" = 0 ]; then
  run_user=www-data
  id "$run_user" >/dev/null 2>&1 || run_user=nobody
  run_group="$(id -gn "$run_user")"
fi
# shellcheck source=/dev/null
. "$here/$kind.sh"

# Ready once it answers HTTP at all; a server that exits is not waited for.
ready() {
  for _ in $(seq 300); do
    kill -0 "$1" 2>/dev/null || return 1
    status=0 && code="$(curl -sk -o /dev/null -w '%{http_code}' --max-time 5 -X OPTIONS "$url/")" || status=$?
    [ "$code" = 000 ] || return 0
    # Asking for a client certificate, it ends curl's handshake (35) or its first read (56).
    [ -z "$client_ca" ] || case "$status" in 35 | 56) return 0 ;; esac
    sleep 0.1
  done
  return 1
}

log="$workdir/server.log"
for attempt in 1 2 3; do
  port="$(PATH="/usr/bin:$PATH" python3 -c 'import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
  url="$scheme://127.0.0.1:$port/dav" DAV_PORT="$port"
  server_prepare
  if [ -n "$run_user" ]; then
    chown -R "$run_user:" "$workdir"
    runuser -u "$run_user" -- test -w "$root" || die "$run_user cannot reach $root (chmod o+x above it)"
  fi
  # A session of its own: stop.sh ends the server with its children as one process group.
  setsid "${server_cmd[@]}" </dev/null >"$log" 2>&1 &
  echo $! >"$workdir/server.pgid"
  ready $! && break
  "$here/stop.sh" "$workdir" >/dev/null 2>&1 || true
  # Another process may have taken the port between our pick and the server's bind.
  if [ "$attempt" = 3 ] || ! grep -qiE "in use|could not bind|make_sock" "$log"; then
    echo "start.sh: $kind did not answer at $url; ${server_cmd[*]}" >&2
    tail -n +1 "$workdir"/*.log >&2
    exit 1
  fi
done

owner="${WEBDAV_SERVER_OWNER:-$PPID}"
if [ "$owner" != none ]; then
  setsid bash -c 'while kill -0 "$1" 2>/dev/null && [ -f "$2/server.pgid" ]; do sleep 1; done
    [ ! -f "$2/server.pgid" ] || exec "$3" "$2"' watchdog "$owner" "$workdir" "$here/stop.sh" \
    </dev/null >/dev/null 2>&1 &
  echo $! >"$workdir/watchdog.pgid"
fi
echo "$url"

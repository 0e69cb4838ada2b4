# rclone serving a local directory over WebDAV; sourced by start.sh. Offers
# basic authentication and TLS; rclone has no digest authentication.

server_prepare() {
  [ "$auth" != digest ] || die "rclone offers no digest authentication"
  server_cmd=(rclone serve webdav "$root" --addr "127.0.0.1:$port" --baseurl /dav
    --config "$workdir/rclone.conf" --cache-dir "$workdir/rclone-cache"
    --log-level INFO)
  if [ "$auth" = basic ]; then
    write_htpasswd
    server_cmd+=(--htpasswd "$workdir/htpasswd" --realm "$realm")
  fi
  if [ "$tls" = 1 ]; then
    server_cmd+=(--cert "$workdir/cert.pem" --key "$workdir/key.pem")
  fi
  : >"$workdir/rclone.conf"
}

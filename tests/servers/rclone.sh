# rclone serve webdav: basic authentication, TLS; no digest.
server_prepare() {
  [ "$auth" != digest ] || die "rclone offers no digest authentication"
  : >"$workdir/rclone.conf"
  server_cmd=(rclone serve webdav "$root" --addr "127.0.0.1:$port" --baseurl /dav --log-level INFO
    --config "$workdir/rclone.conf" --cache-dir "$workdir/rclone-cache")
  [ "$auth" = none ] || server_cmd+=(--htpasswd "$authfile" --realm "$realm")
  [ "$tls" = 0 ] || server_cmd+=(--cert "$workdir/cert.pem" --key "$workdir/key.pem")
}

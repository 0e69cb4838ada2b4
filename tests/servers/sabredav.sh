# SabreDAV (php-sabre-dav) under PHP's built-in web server with our script
# sabredav-server.php; sourced by start.sh. Offers basic and digest
# authentication; the built-in server speaks no TLS.

server_prepare() {
  [ "$tls" = 0 ] || die "PHP's built-in server offers no TLS"
  [ -f /usr/share/php/Sabre/autoload.php ] || die "SabreDAV is missing (package php-sabre-dav)"
  mkdir -p "$workdir/docroot" "$workdir/sabredav"
  [ "$auth" != digest ] || write_htdigest
  server_env=(DAV_ROOT="$root" DAV_STATE="$workdir/sabredav" DAV_AUTH="$auth"
    DAV_REALM="$realm" DAV_USER="$user" DAV_PASSWORD="$password"
    DAV_HTDIGEST="$workdir/htdigest")
  server_cmd=(php -d post_max_size=0 -d upload_max_filesize=0 -d memory_limit=-1
    -d display_errors=stderr -d log_errors=0
    -S "127.0.0.1:$port" -t "$workdir/docroot" "$here/sabredav-server.php")
}

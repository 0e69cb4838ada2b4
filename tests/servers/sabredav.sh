# SabreDAV under PHP's built-in web server (sabredav-server.php): basic and digest; no TLS.
server_prepare() {
  [ "$tls" = 0 ] || die "PHP's built-in server offers no TLS"
  [ -f /usr/share/php/Sabre/autoload.php ] || die "SabreDAV is missing (package php-sabre-dav)"
  mkdir -p "$workdir/docroot" "$workdir/sabredav"
  server_cmd=(php -d post_max_size=0 -d upload_max_filesize=0 -d memory_limit=-1
    -d display_errors=stderr -d log_errors=0 -S "127.0.0.1:$port" -t "$workdir/docroot"
    "$here/sabredav-server.php")
}

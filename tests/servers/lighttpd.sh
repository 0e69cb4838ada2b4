# lighttpd with mod_webdav: basic and digest authentication, TLS.
server_prepare() {
  local conf="$workdir/lighttpd.conf"
  mkdir -p "$workdir/docroot"
  cat >"$conf" <<EOF
server.modules = ("mod_alias", "mod_auth", "mod_authn_file", "mod_webdav")
server.document-root = "$workdir/docroot"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$workdir/error.log"
server.upload-dirs = ("$workdir")
server.max-request-size = 0
alias.url = ("/dav" => "$root")
\$HTTP["url"] =~ "^/dav($|/)" {
  webdav.activate = "enable"
  webdav.is-readonly = "disable"
}
EOF
  [ -z "$run_user" ] || printf 'server.username = "%s"\nserver.groupname = "%s"\n' "$run_user" "$run_group" >>"$conf"
  [ "$tls" = 0 ] || cat >>"$conf" <<EOF
server.modules += ("mod_openssl")
ssl.engine = "enable"
ssl.pemfile = "$workdir/cert.pem"
ssl.privkey = "$workdir/key.pem"
EOF
  [ "$auth" = none ] || cat >>"$conf" <<EOF
auth.backend = "$authfmt"
auth.backend.$authfmt.userfile = "$authfile"
auth.require = ("/dav" => ("method" => "$auth", "realm" => "$realm", "require" => "valid-user"))
EOF
  server_cmd=(lighttpd -D -f "$conf")
}

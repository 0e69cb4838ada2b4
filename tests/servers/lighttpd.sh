# lighttpd with mod_webdav; sourced by start.sh. Offers basic and digest
# authentication and TLS.

server_prepare() {
  mkdir -p "$workdir/docroot"
  local conf="$workdir/lighttpd.conf"
  {
    echo 'server.modules = ("mod_alias", "mod_auth", "mod_authn_file", "mod_webdav"'
    [ "$tls" = 1 ] && echo '  , "mod_openssl"'
    echo ')'
    echo "server.document-root = \"$workdir/docroot\""
    echo 'server.bind = "127.0.0.1"'
    echo "server.port = $port"
    echo "server.errorlog = \"$workdir/error.log\""
    echo "server.upload-dirs = (\"$workdir\")"
    echo 'server.max-request-size = 0'
    echo "alias.url = (\"/dav\" => \"$root\")"
    echo '$HTTP["url"] =~ "^/dav($|/)" {'
    echo '  webdav.activate = "enable"'
    echo '  webdav.is-readonly = "disable"'
    echo '}'
    if [ "$tls" = 1 ]; then
      echo 'ssl.engine = "enable"'
      echo "ssl.pemfile = \"$workdir/cert.pem\""
      echo "ssl.privkey = \"$workdir/key.pem\""
    fi
    case "$auth" in
      basic)
        write_htpasswd
        echo 'auth.backend = "htpasswd"'
        echo "auth.backend.htpasswd.userfile = \"$workdir/htpasswd\""
        ;;
      digest)
        write_htdigest
        echo 'auth.backend = "htdigest"'
        echo "auth.backend.htdigest.userfile = \"$workdir/htdigest\""
        ;;
    esac
    if [ "$auth" != none ]; then
      echo "auth.require = (\"/dav\" => (\"method\" => \"$auth\", \"realm\" => \"$realm\", \"require\" => \"valid-user\"))"
    fi
    if [ "$(id -u)" = 0 ]; then
      give_tree_to_run_user
      echo "server.username = \"$run_user\""
      echo "server.groupname = \"$(id -gn "$run_user")\""
    fi
  } >"$conf"
  server_cmd=(lighttpd -D -f "$conf")
}

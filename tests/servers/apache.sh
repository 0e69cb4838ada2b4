# Apache httpd with mod_dav and mod_dav_fs, run in the foreground from our
# own configuration (never the system service); sourced by start.sh. Offers
# basic and digest authentication and TLS.

server_prepare() {
  local modules=/usr/lib/apache2/modules
  local conf="$workdir/apache.conf"
  give_tree_to_run_user
  {
    echo "ServerRoot \"$workdir\""
    echo "ServerName 127.0.0.1"
    echo "Listen 127.0.0.1:$port"
    echo "PidFile \"$workdir/apache.pid\""
    echo "DefaultRuntimeDir \"$workdir\""
    echo "Mutex file:$workdir default"
    echo "ErrorLog \"$workdir/error.log\""
    echo "LogLevel warn"
    for m in mpm_event authn_core authn_file authz_core authz_user auth_basic auth_digest \
      alias mime dav dav_fs; do
      echo "LoadModule ${m}_module $modules/mod_$m.so"
    done
    if [ "$tls" = 1 ]; then
      echo "LoadModule socache_shmcb_module $modules/mod_socache_shmcb.so"
      echo "LoadModule ssl_module $modules/mod_ssl.so"
      echo "SSLEngine on"
      echo "SSLCertificateFile \"$workdir/cert.pem\""
      echo "SSLCertificateKeyFile \"$workdir/key.pem\""
      echo "SSLSessionCache \"shmcb:$workdir/ssl_scache(64000)\""
    fi
    if [ -n "$run_user" ]; then
      echo "User $run_user"
      echo "Group $(id -gn "$run_user")"
    fi
    echo "StartServers 1"
    echo "ServerLimit 2"
    echo "ThreadsPerChild 8"
    echo "MaxRequestWorkers 16"
    echo "TypesConfig /etc/mime.types"
    echo "DavLockDB \"$workdir/davlock\""
    echo "<Directory />"
    echo "  AllowOverride None"
    echo "  Require all denied"
    echo "</Directory>"
    echo "Alias /dav \"$root\""
    echo "<Directory \"$root\">"
    echo "  Dav On"
    echo "  Options None"
    echo "  AllowOverride None"
    case "$auth" in
      basic)
        write_htpasswd
        echo "  AuthType Basic"
        echo "  AuthName \"$realm\""
        echo "  AuthBasicProvider file"
        echo "  AuthUserFile \"$workdir/htpasswd\""
        echo "  Require valid-user"
        ;;
      digest)
        write_htdigest
        echo "  AuthType Digest"
        echo "  AuthName \"$realm\""
        echo "  AuthDigestProvider file"
        echo "  AuthDigestDomain /dav/"
        echo "  AuthUserFile \"$workdir/htdigest\""
        echo "  Require valid-user"
        ;;
      none)
        echo "  Require all granted"
        ;;
    esac
    echo "</Directory>"
  } >"$conf"
  # The files written after the tree was handed over must be readable too.
  [ -z "$run_user" ] || chown -R "$run_user:" "$workdir"
  server_cmd=(apache2 -f "$conf" -DFOREGROUND)
}

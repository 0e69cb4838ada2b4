# Apache httpd with mod_dav_fs, in the foreground from our own configuration (never the
# system service): basic and digest authentication, TLS.
server_prepare() {
  local modules=/usr/lib/apache2/modules m scheme=Basic access="Require all granted"
  [ "$auth" != digest ] || scheme=Digest
  [ "$auth" = none ] || access="AuthType $scheme
  AuthName $realm
  Auth${scheme}Provider file
  AuthUserFile $authfile
  Require valid-user"
  {
    for m in mpm_event authn_core authn_file authz_core authz_user auth_basic auth_digest alias \
      dav dav_fs; do echo "LoadModule ${m}_module $modules/mod_$m.so"; done
    [ -z "$run_user" ] || printf 'User %s\nGroup %s\n' "$run_user" "$run_group"
    [ "$tls" = 0 ] || cat <<EOF
LoadModule socache_shmcb_module $modules/mod_socache_shmcb.so
LoadModule ssl_module $modules/mod_ssl.so
SSLEngine on
SSLCertificateFile "$workdir/cert.pem"
SSLCertificateKeyFile "$workdir/key.pem"
SSLSessionCache "shmcb:$workdir/ssl_scache(64000)"
EOF
    [ -z "$client_ca" ] || printf 'SSLVerifyClient require\nSSLCACertificateFile "%s"\n' "$workdir/client-ca.pem"
    cat <<EOF
ServerRoot "$workdir"
ServerName 127.0.0.1
Listen 127.0.0.1:$port
PidFile "$workdir/apache.pid"
DefaultRuntimeDir "$workdir"
Mutex file:$workdir default
ErrorLog "$workdir/error.log"
StartServers 1
ServerLimit 2
ThreadsPerChild 8
MaxRequestWorkers 16
DavLockDB "$workdir/davlock"
Alias /dav "$root"
<Directory "$root">
  Dav On
  $access
</Directory>
EOF
  } >"$workdir/apache.conf"
  server_cmd=(apache2 -f "$workdir/apache.conf" -DFOREGROUND)
}

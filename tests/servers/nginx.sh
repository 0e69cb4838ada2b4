# nginx with its dav module and the dav-ext module (PROPFIND, OPTIONS);
# sourced by start.sh. Offers basic authentication and TLS; nginx has no
# digest authentication.

server_prepare() {
  [ "$auth" != digest ] || die "nginx offers no digest authentication"
  local module=/usr/lib/nginx/modules/ngx_http_dav_ext_module.so
  [ -f "$module" ] || die "$module is missing (package libnginx-mod-http-dav-ext)"
  local conf="$workdir/nginx.conf"
  mkdir -p "$workdir/nginx-tmp"
  give_tree_to_run_user
  {
    echo "load_module $module;"
    echo "daemon off;"
    echo "worker_processes 1;"
    echo "pid $workdir/nginx.pid;"
    echo "error_log $workdir/error.log warn;"
    [ -z "$run_user" ] || echo "user $run_user $(id -gn "$run_user");"
    echo "events { worker_connections 64; }"
    echo "http {"
    echo "  access_log off;"
    echo "  client_max_body_size 0;"
    for t in client_body proxy fastcgi uwsgi scgi; do
      echo "  ${t}_temp_path $workdir/nginx-tmp/$t;"
    done
    echo "  server {"
    if [ "$tls" = 1 ]; then
      echo "    listen 127.0.0.1:$port ssl;"
      echo "    ssl_certificate $workdir/cert.pem;"
      echo "    ssl_certificate_key $workdir/key.pem;"
    else
      echo "    listen 127.0.0.1:$port;"
    fi
    echo "    location /dav {"
    echo "      alias $root;"
    echo "      dav_methods PUT DELETE MKCOL COPY MOVE;"
    echo "      dav_ext_methods PROPFIND OPTIONS;"
    echo "      dav_access user:rw group:rw all:r;"
    echo "      create_full_put_path off;"
    if [ "$auth" = basic ]; then
      write_htpasswd
      echo "      auth_basic \"$realm\";"
      echo "      auth_basic_user_file $workdir/htpasswd;"
    fi
    echo "    }"
    echo "  }"
    echo "}"
  } >"$conf"
  [ -z "$run_user" ] || chown -R "$run_user:" "$workdir"
  server_cmd=(nginx -p "$workdir" -c "$conf" -e "$workdir/error.log")
}

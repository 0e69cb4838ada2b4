# nginx with its dav module and dav-ext (PROPFIND, OPTIONS): basic authentication, TLS; no
# digest.
server_prepare() {
  local module=/usr/lib/nginx/modules/ngx_http_dav_ext_module.so ssl="" access="" user=""
  [ "$auth" != digest ] || die "nginx offers no digest authentication"
  [ -f "$module" ] || die "$module is missing (package libnginx-mod-http-dav-ext)"
  [ "$tls" = 0 ] || ssl=" ssl; ssl_certificate $workdir/cert.pem; ssl_certificate_key $workdir/key.pem"
  [ "$auth" = none ] || access="auth_basic $realm; auth_basic_user_file $authfile;"
  [ -z "$run_user" ] || user="user $run_user $run_group;"
  mkdir -p "$workdir/tmp"
  cat >"$workdir/nginx.conf" <<EOF
load_module $module;
daemon off;
pid $workdir/nginx.pid;
error_log $workdir/error.log warn;
$user
events { worker_connections 64; }
http {
  access_log off;
  client_max_body_size 0;
  client_body_temp_path $workdir/tmp/body; proxy_temp_path $workdir/tmp/proxy;
  fastcgi_temp_path $workdir/tmp/fastcgi; uwsgi_temp_path $workdir/tmp/uwsgi; scgi_temp_path $workdir/tmp/scgi;
  server {
    listen 127.0.0.1:$port$ssl;
    location /dav {
      alias $root;
      dav_methods PUT DELETE MKCOL COPY MOVE;
      dav_ext_methods PROPFIND OPTIONS;
      dav_access user:rw group:rw all:r;
      $access
    }
  }
}
EOF
  server_cmd=(nginx -p "$workdir" -c "$workdir/nginx.conf" -e "$workdir/error.log")
}

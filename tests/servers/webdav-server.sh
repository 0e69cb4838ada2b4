# The npm package webdav-server under node with our script webdav-server.js;
# sourced by start.sh. Offers basic and digest authentication and TLS. The
# package is installed by setup-node.sh into the build area when missing.

server_prepare() {
  command -v node >/dev/null || die "node is missing (package nodejs)"
  local modules
  modules="$("$here/setup-node.sh")/node_modules" || die "webdav-server could not be installed"
  server_env=(NODE_PATH="$modules" DAV_PORT="$port" DAV_ROOT="$root" DAV_AUTH="$auth"
    DAV_REALM="$realm" DAV_USER="$user" DAV_PASSWORD="$password")
  if [ "$tls" = 1 ]; then
    server_env+=(DAV_CERT="$workdir/cert.pem" DAV_KEY="$workdir/key.pem")
  fi
  server_cmd=(node "$here/webdav-server.js")
}

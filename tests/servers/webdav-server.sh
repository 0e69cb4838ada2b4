# The npm package webdav-server under node (webdav-server.js): basic and digest, TLS. The
# package is installed into the build area by setup-node.sh when missing.
server_prepare() {
  command -v node >/dev/null || die "node is missing (package nodejs)"
  NODE_PATH="$("$here/setup-node.sh")/node_modules" || die "webdav-server could not be installed"
  export NODE_PATH
  server_cmd=(node "$here/webdav-server.js")
}

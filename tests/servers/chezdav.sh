# chezdav (phodav): digest authentication only, no TLS. It serves its folder at "/", so /dav is
# a link to the root.
server_prepare() {
  [ "$auth" != basic ] && [ "$tls" = 0 ] || die "chezdav offers digest authentication only, no TLS"
  mkdir -p "$workdir/docroot" && ln -sfn "$root" "$workdir/docroot/dav"
  server_cmd=(chezdav --local --no-mdns -p "$port" -P "$workdir/docroot")
  [ "$auth" = none ] || server_cmd+=(-d "$authfile" --realm "$realm")
}

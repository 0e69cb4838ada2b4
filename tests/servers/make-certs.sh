#!/usr/bin/env bash
# Makes a private PKI for TLS tests in <dir>: ca.pem; server.pem/.key for 127.0.0.1 signed by it
# and server.pin, its key's pin ("sha256//<base64>"); other-ca.pem, a CA that signed nothing;
# client-ca.pem and client.pem/.key signed by it. Keys are P-256, valid for two days.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: make-certs.sh <dir>" >&2 && exit 2; }
mkdir -p "$1" && cd "$1"
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out "$1.key"; }
ca() { key "$1" && openssl req -x509 -new -key "$1.key" -subj "/CN=$1" -days 2 -out "$1.pem"; }
# <name> <issuer> <extensions>
leaf() {
  key "$1" && openssl req -new -key "$1.key" -subj "/CN=$1" |
    openssl x509 -req -CA "$2.pem" -CAkey "$2.key" -set_serial "$RANDOM$RANDOM" -days 2 \
      -extfile <(printf '%s\n' "$3") -out "$1.pem"
}
{
  ca ca && ca other-ca && ca client-ca
  leaf server ca $'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth'
  leaf client client-ca extendedKeyUsage=clientAuth
} >openssl.log 2>&1 || { cat openssl.log >&2 && exit 1; }
printf 'sha256//%s\n' "$(openssl pkey -in server.key -pubout -outform der |
  openssl dgst -sha256 -binary | openssl base64)" >server.pin

#!/usr/bin/env bash
# Makes the certificates of the HTTPS tests, once, into OUTDIR (in the build
# tree; nothing here is a secret of the product):
#   make_test_certs.sh OUTDIR
# OUTDIR then holds
#   ca.pem, ca.der          the test CA "Kestrova Test CA" (trust it in the
#                           test Wine prefix with trust_test_ca.exe ca.der)
#   server.pem, server.key  a server certificate from that CA for the names
#                           localhost, kestrova.ai, *.kestrova.ai and 127.0.0.1
#   untrusted.pem, untrusted.key
#                           the same names from another CA that nobody trusts
# Every certificate is valid for ten years from its making; an existing set
# is kept.
set -euo pipefail
out=${1:?usage: make_test_certs.sh OUTDIR}
mkdir -p "$out"
cd "$out"
[ -s untrusted.pem ] && [ -s server.pem ] && [ -s ca.der ] && exit 0

names="subjectAltName=DNS:localhost,DNS:kestrova.ai,DNS:*.kestrova.ai,IP:127.0.0.1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_ca() {  # NAME SUBJECT
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
    -subj "/CN=$2" -keyout "$1-ca.key" -out "$1-ca.pem" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

make_server() {  # CA-NAME OUT-NAME
  openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=localhost" \
    -keyout "$2.key" -out "$work/$2.csr" 2>/dev/null
  printf '%s\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n' \
    "$names" >"$work/$2.ext"
  openssl x509 -req -in "$work/$2.csr" -CA "$1-ca.pem" -CAkey "$1-ca.key" \
    -CAcreateserial -days 3650 -sha256 -extfile "$work/$2.ext" -out "$work/$2.leaf" 2>/dev/null
  cat "$work/$2.leaf" "$1-ca.pem" >"$2.pem"
}

make_ca test "Kestrova Test CA"
make_ca other "Untrusted Test CA"
make_server test server
make_server other untrusted
mv test-ca.pem ca.pem
openssl x509 -in ca.pem -outform DER -out ca.der
rm -f test-ca.key other-ca.key other-ca.pem ./*.srl

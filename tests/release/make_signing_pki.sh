#!/usr/bin/env bash
# Makes the code-signing material of the release tests, once, into OUTDIR (in
# the build tree; nothing here is a secret of the product):
#   make_signing_pki.sh OUTDIR
# OUTDIR then holds
#   ca.pem                  the test CA "Kestrova Test Signing CA"
#   other-ca.pem            another CA, which issued none of these
#   signer.p12              a code-signing key and certificate from that CA
#                           (with the CA), password in file p12-password
#   signer-chain.pem        that certificate and the CA
#   no-codesign.p12         a key and certificate from the CA for server use
#                           only (no code-signing purpose), same password
#   no-codesign-chain.pem   that certificate and the CA
#   tsa.pem, tsa.key, tsa.cnf
#                           a time-stamping certificate from the CA and the
#                           configuration of `openssl ts -reply` (section tsa)
#   softhsm2.conf, tokens/  a SoftHSM2 token "kestrova-test" holding the
#                           code-signing key as object "signer"; user PIN in
#                           file token-pin (SOFTHSM2_CONF=OUTDIR/softhsm2.conf)
# Every certificate is valid for ten years from its making; an existing set
# is kept.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make_signing_pki.sh OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$out"
[ -e complete ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
umask 077

password=kestrova-test-password
pin=24680
printf '%s' "$password" >p12-password

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
  -subj "/O=Kestrova Test/CN=Kestrova Test Signing CA" -keyout "$work/ca.key" -out ca.pem \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
  -subj "/O=Kestrova Test/CN=Kestrova Other CA" -keyout "$work/other-ca.key" -out other-ca.pem \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null

issue() {  # NAME SUBJECT EXTENSIONS...: NAME.key (PKCS#8) and NAME.pem
  local name=$1 subject=$2
  shift 2
  openssl req -newkey rsa:2048 -nodes -sha256 -subj "$subject" \
    -keyout "$work/$name.key" -out "$work/$name.csr" 2>/dev/null
  printf '%s\n' "basicConstraints=CA:FALSE" "$@" >"$work/$name.ext"
  openssl x509 -req -in "$work/$name.csr" -CA ca.pem -CAkey "$work/ca.key" \
    -set_serial "0x$(openssl rand -hex 8)" -days 3650 -sha256 -extfile "$work/$name.ext" \
    -out "$work/$name.pem" 2>/dev/null
}

p12() {  # NAME: NAME.p12 and NAME-chain.pem from the key and certificate
  cat "$work/$1.pem" ca.pem >"$1-chain.pem"
  KESTROVA_P12_PASSWORD=$password openssl pkcs12 -export -inkey "$work/$1.key" \
    -in "$work/$1.pem" -certfile ca.pem -name "$1" -passout env:KESTROVA_P12_PASSWORD \
    -out "$1.p12"
}

issue signer "/O=Kestrova Test/CN=Kestrova Test Code Signing" \
  "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning"
p12 signer
issue no-codesign "/O=Kestrova Test/CN=Kestrova Test Server" \
  "keyUsage=critical,digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth"
p12 no-codesign
issue tsa "/O=Kestrova Test/CN=Kestrova Test Time Stamping" \
  "keyUsage=critical,digitalSignature" "extendedKeyUsage=critical,timeStamping"
cp "$work/tsa.key" tsa.key
cp "$work/tsa.pem" tsa.pem

cat >tsa.cnf <<CNF
[tsa]
default_tsa = tsa_config
[tsa_config]
dir = $out
serial = \$dir/tsa-serial
crypto_device = builtin
signer_cert = \$dir/tsa.pem
certs = \$dir/ca.pem
signer_key = \$dir/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
other_policies = 1.3.6.1.4.1.4146.2.2
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
CNF
echo 01 >tsa-serial

# The token: its own configuration and folder, the signer's key imported.
rm -rf tokens token-pin
"$here/../tools/make_test_token.sh" "$out" kestrova-test "$pin"
mv kestrova-test.pin token-pin
export SOFTHSM2_CONF=$out/softhsm2.conf
softhsm2-util --import "$work/signer.key" --token kestrova-test --label signer --id 01 \
  --pin "$pin" >/dev/null
touch complete

#!/usr/bin/env bash
# Makes a SoftHSM2 token for the tests, once, in a folder of the build tree:
#   make_test_token.sh DIR LABEL [PIN]
# DIR then holds softhsm2.conf (SOFTHSM2_CONF=DIR/softhsm2.conf) and tokens/,
# with an initialised token LABEL whose user PIN (default 24680) is in the
# file DIR/LABEL.pin. Further tokens go into the same folder by calling again
# with another label; an existing token is kept.
set -euo pipefail
dir=${1:?usage: make_test_token.sh DIR LABEL [PIN]}
label=${2:?usage: make_test_token.sh DIR LABEL [PIN]}
pin=${3:-24680}
mkdir -p "$dir/tokens"
dir=$(cd "$dir" && pwd)
[ -e "$dir/$label.pin" ] && exit 0
printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n' \
  "$dir" >"$dir/softhsm2.conf"
SOFTHSM2_CONF=$dir/softhsm2.conf softhsm2-util --init-token --free --label "$label" \
  --so-pin 13579 --pin "$pin" >/dev/null
(umask 077 && printf '%s' "$pin" >"$dir/$label.pin")

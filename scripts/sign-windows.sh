#!/usr/bin/env bash
# Signs a Windows program with Authenticode: the certificate chain in
# $ORVANE_SIGN_CERT and its private key in $ORVANE_SIGN_KEY (both PEM), the
# signing time $SOURCE_DATE_EPOCH and no time-stamp server, so that one
# commit signed with one key always gives the same bytes.
#   scripts/sign-windows.sh <program> <signed program>
set -euo pipefail
in=${1:?usage: scripts/sign-windows.sh <program> <signed program>}
out=${2:?usage: scripts/sign-windows.sh <program> <signed program>}
: "${ORVANE_SIGN_CERT:?the certificate chain (PEM)}" "${ORVANE_SIGN_KEY:?its private key (PEM)}"
: "${SOURCE_DATE_EPOCH:?the signing time}"
rm -f "$out"
osslsigncode sign -certs "$ORVANE_SIGN_CERT" -key "$ORVANE_SIGN_KEY" -h sha256 \
  -n nagios_orvane_check -time "$SOURCE_DATE_EPOCH" -in "$in" -out "$out" >/dev/null

#!/usr/bin/env bash
# Signs a PE file in place with Authenticode (SHA-256):
#   authenticode_sign.sh OSSLSIGNCODE SIGNER FILE [CHAIN]
# SIGNER is the test PKI's path without extension (SIGNER.key, SIGNER.pem);
# CHAIN, a PEM file of intermediate certificates, goes into the signature.
# An existing signature is replaced.
set -euo pipefail
osslsigncode=$1 signer=$2 file=$3 chain=${4:-}
certificates=$signer.pem
if [ -n "$chain" ]; then
  certificates=$(mktemp)
  trap 'rm -f "$certificates"' EXIT
  cat "$signer.pem" "$chain" >"$certificates"
fi
# osslsigncode writes only new files.
rm -f "$file.unsigned" "$file.signing"
"$osslsigncode" remove-signature -in "$file" -out "$file.unsigned" >/dev/null 2>&1 ||
  cp "$file" "$file.unsigned"
"$osslsigncode" sign -h sha256 -certs "$certificates" -key "$signer.key" \
  -in "$file.unsigned" -out "$file.signing" >/dev/null
rm -f "$file.unsigned"
mv -f "$file.signing" "$file"

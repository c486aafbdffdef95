#!/usr/bin/env bash
# Makes the test certificates that the build signs libraries with, into the
# folder given (inside the build tree; no key ever leaves it or is committed),
# with P-256 keys, or with 2048-bit RSA keys when the second argument is "rsa"
# (the Windows build: Wine's Authenticode check cannot verify ECDSA):
#   root-ca            the test authority that test trust folders hold
#   publisher          "Corvane Software GmbH", code signing, by root-ca: signs every built library
#   other-publisher    "Quillmark Tools Ltd", code signing, by root-ca: trusted, but no known publisher
#   wordpart-publisher "Nimbexia Systems Inc", code signing, by root-ca: a known fragment inside a word
#   untrusted-ca       an authority nobody trusts
#   untrusted          "Corvane Software GmbH", code signing, by untrusted-ca
#   expired            "Corvane Software GmbH", code signing, by root-ca, valid only in 2020
#   not-code-signing   "Corvane Software GmbH", server authentication only, by root-ca
#   no-usage           "Corvane Software GmbH", no extended key usage at all, by root-ca
#   ou-only, o-only, email-only: code signing, by root-ca, for the signer's display name
#   intermediate-ca    an authority below root-ca
#   chained-publisher  "Orbiware Chained Publisher", code signing, by intermediate-ca
#   https-server       a TLS server for 127.0.0.1, localhost and news.wardex.test, by root-ca
#   https-expired      the same names, by root-ca, valid only in 2020
#   https-other-name   a TLS server for other.wardex.test only, by root-ca
#   https-untrusted    the names of https-server, by untrusted-ca
set -euo pipefail

out=${1:?usage: make_test_pki.sh OUTPUT_FOLDER [rsa]}
if [ "${2:-}" = rsa ]; then
  key_options=(-algorithm RSA -pkeyopt rsa_keygen_bits:2048)
else
  key_options=(-algorithm EC -pkeyopt ec_paramgen_curve:P-256)
fi
mkdir -p "$out"
cd "$out"
umask 077

key() {
  openssl genpkey "${key_options[@]}" -out "$1.key" 2>/dev/null
}

# authority NAME SUBJECT
authority() {
  key "$1"
  openssl req -x509 -new -key "$1.key" -subj "$2" -days 3650 -sha256 \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -addext "subjectKeyIdentifier=hash" -out "$1.pem"
}

# request NAME SUBJECT EXTENDED_KEY_USAGE: the key, a request and an extension
# file (without an extended key usage when it is empty).
request() {
  key "$1"
  openssl req -new -key "$1.key" -subj "$2" -out "$1.csr"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n' >"$1.ext"
  if [ -n "$3" ]; then echo "extendedKeyUsage=$3" >>"$1.ext"; fi
}

# certificate NAME AUTHORITY SUBJECT EXTENDED_KEY_USAGE
certificate() {
  request "$1" "$3" "$4"
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" \
    -set_serial "0x$(openssl rand -hex 8)" -days 3650 -sha256 -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}

# intermediate NAME AUTHORITY SUBJECT: an authority below AUTHORITY, for code signing only.
intermediate() {
  key "$1"
  openssl req -new -key "$1.key" -subj "$3" -out "$1.csr"
  printf 'basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\nextendedKeyUsage=codeSigning\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n' \
    >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" \
    -set_serial "0x$(openssl rand -hex 8)" -days 3650 -sha256 -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}

# dated NAME AUTHORITY START END: signs NAME's request for the given period.
dated() {
  rm -rf ca-db && mkdir ca-db && : >ca-db/index.txt
  cat >ca-db/ca.cnf <<CONF
[ca]
default_ca = test
[test]
database = $out/ca-db/index.txt
new_certs_dir = $out/ca-db
serial = $out/ca-db/serial
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
organizationName = optional
CONF
  openssl rand -hex 8 >ca-db/serial
  openssl ca -batch -notext -config ca-db/ca.cnf -cert "$2.pem" -keyfile "$2.key" -in "$1.csr" \
    -startdate "$3" -enddate "$4" -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  rm -rf ca-db
}

# expired NAME AUTHORITY SUBJECT: valid from 2020-01-01 to 2021-01-01.
expired() {
  request "$1" "$3" codeSigning
  dated "$1" "$2" 20200101000000Z 20210101000000Z
}

# https NAME AUTHORITY NAMES [expired]: a TLS server certificate for the
# subjectAltName entries NAMES (an address needs its IP entry to verify).
https() {
  request "$1" "/CN=Wardex Test Server" serverAuth
  echo "subjectAltName=$3" >>"$1.ext"
  if [ "${4:-}" = expired ]; then
    dated "$1" "$2" 20200101000000Z 20210101000000Z
  else
    openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" \
      -set_serial "0x$(openssl rand -hex 8)" -days 3650 -sha256 -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  fi
}

authority root-ca "/CN=Wardex Test Root CA/O=Wardex Test"
certificate publisher root-ca "/CN=Corvane Software GmbH/O=Corvane Software GmbH" codeSigning
certificate other-publisher root-ca "/CN=Quillmark Tools Ltd/O=Quillmark Tools Ltd" codeSigning
certificate wordpart-publisher root-ca "/CN=Nimbexia Systems Inc" codeSigning
certificate not-code-signing root-ca "/CN=Corvane Software GmbH" serverAuth
certificate no-usage root-ca "/CN=Corvane Software GmbH" ""
certificate ou-only root-ca "/OU=Corvane Build Unit/O=Someone Else" codeSigning
certificate o-only root-ca "/O=Corvane Org Only" codeSigning
certificate email-only root-ca "/emailAddress=builds@corvane.example" codeSigning
expired expired root-ca "/CN=Corvane Software GmbH"
intermediate intermediate-ca root-ca "/CN=Wardex Test Intermediate CA"
certificate chained-publisher intermediate-ca "/CN=Orbiware Chained Publisher" codeSigning
authority untrusted-ca "/CN=Unknown Test CA"
certificate untrusted untrusted-ca "/CN=Corvane Software GmbH" codeSigning
# Wine matches no IP entry: 127.0.0.1 is also named as a DNS name for it.
server_names="IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost,DNS:news.wardex.test"
https https-server root-ca "$server_names"
https https-expired root-ca "$server_names" expired
https https-other-name root-ca "DNS:other.wardex.test"
https https-untrusted untrusted-ca "$server_names"

rm -f ./*.csr ./*.ext ./*.srl
# The certificates are public; readable so that tests running as another user
# can use them as anchors. The test servers' keys are only test keys.
chmod 644 ./*.pem ./https-*.key
touch pki.stamp

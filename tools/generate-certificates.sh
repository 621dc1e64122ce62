#!/bin/sh
# Makes the service's certificate files: a local CA and a server certificate for localhost,
# 127.0.0.1 and ::1, written as DIR/ca_cert.pem, DIR/server_cert.pem and DIR/server_key.pem.
#
#   generate-certificates.sh [--days N] [--force] DIR
#
# A complete set already in DIR is kept, so running it again is harmless; --force replaces it.
# A set that is incomplete or expires within a day is left alone and reported (exit 1), because
# it may be an operator's own certificate. The CA's private key is thrown away once the server
# certificate is signed, and the CA may only vouch for localhost and loopback addresses: a browser
# that trusts it can therefore never be shown a forged certificate for any other site.
set -eu

usage() {
  echo "usage: generate-certificates.sh [--days N] [--force] DIR" >&2
  exit 2
}

days=397
force=0
dir=""
while [ $# -gt 0 ]; do
  case "$1" in
    --days)
      [ $# -ge 2 ] || usage
      days=$2
      shift 2
      ;;
    --force) force=1; shift ;;
    -*) usage ;;
    *)
      [ -z "$dir" ] || usage
      dir=$1
      shift
      ;;
  esac
done
[ -n "$dir" ] || usage
case "$days" in
  '' | *[!0-9]*) usage ;;
esac
# Browsers refuse a server certificate valid for more than 825 days, and the service's own
# generate-certificates command stops there too.
if [ "${#days}" -gt 4 ] || [ "$days" -gt 825 ]; then
  echo "generate-certificates.sh: --days is at most 825" >&2
  exit 2
fi
[ "$days" -gt 0 ] || usage

files="ca_cert.pem server_cert.pem server_key.pem"

# How many of the three files exist in DIR.
present() {
  count=0
  for name in $files; do
    [ -e "$dir/$name" ] && count=$((count + 1))
  done
  echo "$count"
}

if [ "$force" -eq 0 ]; then
  found=$(present)
  if [ "$found" -eq 3 ]; then
    if openssl x509 -in "$dir/server_cert.pem" -noout -checkend 86400 >/dev/null 2>&1; then
      echo "generate-certificates: keeping the certificates in $dir"
      exit 0
    fi
    echo "generate-certificates: $dir/server_cert.pem is expired or expires within a day;" \
      "run again with --force to replace the set" >&2
    exit 1
  fi
  if [ "$found" -ne 0 ]; then
    echo "generate-certificates: $dir holds only part of a certificate set;" \
      "run again with --force to replace it" >&2
    exit 1
  fi
fi

# Every folder made here is rwxr-x--- whatever the caller's umask: another local user must not be
# able to swap a file in it or plant a library beside the service in the base folder above it.
(umask 027 && mkdir -p "$dir")
# The new files are made beside the old ones and renamed over them, so a reader never sees a
# half-written file. Everything in the work folder, the CA key with it, goes when the script ends.
work=$(mktemp -d "$dir/.generate.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
umask 077

# The CA's name carries the moment it was made, so that a browser holding an older one imported
# from an earlier run tells the two apart.
stamp=$(date -u +%Y-%m-%dT%H:%M:%SZ)
cat >"$work/openssl.cnf" <<EOF
[req]
distinguished_name = dn
prompt = no

[dn]
CN = Kelvora TEF Server local CA $stamp

[ca_ext]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
nameConstraints = critical, permitted;DNS:localhost, permitted;IP:127.0.0.0/255.0.0.0, permitted;IP:::1/ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff

[server_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1, IP:::1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF

# EC P-256 keys: accepted by every browser and made in milliseconds.
ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
# shellcheck disable=SC2086  # $ec is several words on purpose
openssl req -x509 $ec -config "$work/openssl.cnf" -extensions ca_ext -days "$days" \
  -keyout "$work/ca_key.pem" -out "$work/ca_cert.pem" 2>/dev/null
# shellcheck disable=SC2086
openssl req -new $ec -config "$work/openssl.cnf" -subj /CN=localhost \
  -keyout "$work/server_key.pem" -out "$work/server.csr" 2>/dev/null
openssl x509 -req -in "$work/server.csr" -CA "$work/ca_cert.pem" -CAkey "$work/ca_key.pem" \
  -CAcreateserial -CAserial "$work/ca_cert.srl" -days "$days" \
  -extfile "$work/openssl.cnf" -extensions server_ext -out "$work/server_cert.pem" 2>/dev/null

chmod 0644 "$work/ca_cert.pem" "$work/server_cert.pem"
chmod 0600 "$work/server_key.pem"
for name in $files; do
  mv -f "$work/$name" "$dir/$name"
done
echo "generate-certificates: wrote $dir/ca_cert.pem, server_cert.pem and server_key.pem" \
  "(valid $days days)"

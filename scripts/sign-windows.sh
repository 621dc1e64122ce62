#!/usr/bin/env bash
# Signs Windows programs in place with Authenticode (Debian's osslsigncode), so Windows and the
# store's antivirus see who made them and that nobody changed them since:
#   scripts/sign-windows.sh FILE...
# The certificate and its key come from the environment: KELVORA_SIGN_CERT (PEM, the chain up to
# the issuer), KELVORA_SIGN_KEY (PEM), and KELVORA_SIGN_TIMESTAMP_URL, a timestamping service, so
# the signature stays valid after the certificate expires. Without a certificate and a key the
# files stay unsigned and the script says so; an already signed file gets the new signature in
# place of the old.
set -euo pipefail

if [ -z "${KELVORA_SIGN_CERT:-}" ] || [ -z "${KELVORA_SIGN_KEY:-}" ]; then
  for file in "$@"; do echo "sign-windows: UNSIGNED (KELVORA_SIGN_CERT and KELVORA_SIGN_KEY not set): $file"; done
  exit 0
fi
timestamp=()
if [ -n "${KELVORA_SIGN_TIMESTAMP_URL:-}" ]; then
  timestamp=(-ts "$KELVORA_SIGN_TIMESTAMP_URL")
else
  echo "sign-windows: no KELVORA_SIGN_TIMESTAMP_URL: the signatures carry no timestamp and end with the certificate"
fi
for file in "$@"; do
  osslsigncode sign -certs "$KELVORA_SIGN_CERT" -key "$KELVORA_SIGN_KEY" -h sha256 \
    -n "Kelvora TEF Server" "${timestamp[@]}" -in "$file" -out "$file.signing" >/dev/null
  cat "$file.signing" >"$file"
  rm -f "$file.signing"
  echo "sign-windows: signed $file"
done

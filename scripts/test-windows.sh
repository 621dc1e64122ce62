#!/usr/bin/env bash
# The Windows half of the test command: builds the Windows programs and runs their whole suite
# (unit and end-to-end tests, the service under the service control manager, the installer) under
# Wine, for every architecture this machine runs. Each architecture is probed first by running a
# tiny program of it (scripts/probe-windows-arch.sh): some machines cannot execute 32-bit programs
# at all, and there the 64-bit build is tested under 64-bit Wine.
#   WINDOWS_ARCHES="x86" | "x64" | "x86 x64"   tests exactly these, without probing
#   KELVORA_ASSUME_NO_I386=1                    the probe takes 32-bit programs as unable to run
# A machine that runs neither still builds both and fails: a 64-bit Linux that cannot run 64-bit
# Wine is broken, not a reason to skip. With SUMMARY=FILE, one line per architecture goes there.
set -euo pipefail
cd "$(dirname "$0")/.."
summary=${SUMMARY:-/dev/null}

source scripts/install-deps.sh --windows-only

declare -A reason
if [ -n "${WINDOWS_ARCHES:-}" ]; then
  chosen=()
  for arch in $WINDOWS_ARCHES; do
    case $arch in
      x86|x64) chosen+=("$arch") ;;
      *) echo "test-windows: WINDOWS_ARCHES holds x86 and x64, not '$arch'" >&2; exit 2 ;;
    esac
  done
  for arch in x86 x64; do
    [[ " ${chosen[*]} " == *" $arch "* ]] || reason[$arch]="left out by WINDOWS_ARCHES=\"$WINDOWS_ARCHES\""
  done
else
  chosen=()
  for arch in x86 x64; do
    bits=${arch/x86/32}; bits=${bits/x64/64}
    if verdict=$(scripts/probe-windows-arch.sh "$arch" "build-win$bits/wineprefix"); then
      chosen+=("$arch")
    else
      reason[$arch]=${verdict#no: }
    fi
    echo "Windows $arch under Wine: $verdict"
  done
fi

if [ ${#chosen[@]} -eq 0 ]; then
  for arch in x86 x64; do scripts/build-windows.sh --arch "$arch"; done
  for arch in x86 x64; do
    echo "Windows $arch: built, not tested: ${reason[$arch]}" | tee -a "$summary"
  done
  echo "test-windows: this machine runs no Windows architecture under Wine, so no Windows test ran" >&2
  exit 1
fi

# Without a signing certificate of the caller's, the programs are signed with a throw-away one
# made here, so the tests always check that every program and the installer carry a signature.
if [ -z "${KELVORA_SIGN_CERT:-}" ] || [ -z "${KELVORA_SIGN_KEY:-}" ]; then
  signing=$(mktemp -d)
  trap 'rm -rf "$signing"' EXIT
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Kelvora TEF Server test signing" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout "$signing/key.pem" -out "$signing/cert.pem" 2>/dev/null
  export KELVORA_SIGN_CERT=$signing/cert.pem KELVORA_SIGN_KEY=$signing/key.pem
fi

for arch in "${chosen[@]}"; do
  scripts/build-windows.sh --arch "$arch" --test 2>&1 |
    scripts/ctest-totals.sh "$summary" "Windows $arch under Wine"
done
for arch in x86 x64; do
  [ -n "${reason[$arch]:-}" ] && echo "Windows $arch: not tested: ${reason[$arch]}" | tee -a "$summary"
done
exit 0

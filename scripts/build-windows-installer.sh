#!/usr/bin/env bash
# Builds the Windows installer of Kelvora TEF Server from a folder of Windows binaries.
#
#   scripts/build-windows-installer.sh [--arch x86|x64] BINDIR OUT.exe
#
# --arch x64 makes the 64-bit installer (NSIS's amd64 stub) for the 64-bit programs; x86, the
# default, the 32-bit one.
#
# BINDIR holds SvcKelvoraSiTef.exe, kelvora-token.exe, ca-bundle.crt (the certificate authorities
# the sales-API reports trust) and dll/CliSiTef32I.dll (the simulator, which
# the installer offers only as an unchecked test component), plus any runtime DLLs the programs
# need. makensis comes from Debian's nsis package, installed here when missing: only the Windows
# build needs it.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=x86
if [ "${1:-}" = --arch ]; then
  arch=${2:-}
  shift 2 || true
fi
if [ $# -ne 2 ] || { [ "$arch" != x86 ] && [ "$arch" != x64 ]; }; then
  echo "usage: scripts/build-windows-installer.sh [--arch x86|x64] BINDIR OUT.exe" >&2
  exit 2
fi
bindir=$(realpath "$1")
out=$2

for file in SvcKelvoraSiTef.exe kelvora-token.exe ca-bundle.crt dll/CliSiTef32I.dll; do
  if [ ! -f "$bindir/$file" ]; then
    echo "build-windows-installer: $bindir/$file is missing" >&2
    exit 1
  fi
done

if ! command -v makensis >/dev/null; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing Debian package: nsis"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=900 nsis
fi

mkdir -p "$(dirname "$out")"
out=$(realpath "$out")
version=$(sed -n 's/^project(KelvoraTEF VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
# Runtime DLLs beside the executables (a MinGW runtime not linked statically) go with them.
defines=()
if compgen -G "$bindir/*.dll" >/dev/null; then defines=(-DRUNTIME_DLLS); fi
if [ "$arch" = x64 ]; then defines+=(-DX64); fi
# The installer and the uninstaller it writes are signed as makensis finishes each.
defines+=(-DSIGN="$PWD/scripts/sign-windows.sh")
# -WX: a warning (a file left out, a label never used) fails the build instead of shipping.
makensis -V2 -WX -DBINDIR="$bindir" -DOUTFILE="$out" -DVERSION="${version:-1.0.0.4}" "${defines[@]}" \
  packaging/windows/KelvoraTefServer.nsi
echo "build-windows-installer: wrote $out"

#!/usr/bin/env bash
# Tells whether this machine runs Windows programs of one architecture under Wine, by running a
# tiny one: prints "yes", or "no: <why>" and exits 1. Some machines' kernels do not execute 32-bit
# x86 programs at all (wine32 then fails with "Exec format error"), while 64-bit Wine works.
#   scripts/probe-windows-arch.sh x86|x64 PREFIX   runs the tiny program in the Wine prefix PREFIX
#   scripts/probe-windows-arch.sh --kernel-i386    only whether the kernel executes i386 programs
# KELVORA_ASSUME_NO_I386=1 answers no for 32-bit programs without trying, so that the 64-bit-only
# path can be exercised on any machine; KELVORA_WINE names the Wine loader to try instead of the
# architecture's own.
set -euo pipefail
cd "$(dirname "$0")/.."

say_no() {
  echo "no: $*"
  exit 1
}

# A 96-byte static i386 program that only exits: the ELF header and one loadable segment, then
# mov eax,1; mov ebx,0; int 0x80.
kernel_runs_i386() {
  [ "${KELVORA_ASSUME_NO_I386:-0}" = 1 ] &&
    say_no "KELVORA_ASSUME_NO_I386=1 says this machine cannot execute 32-bit programs"
  local work status=0
  work=$(mktemp -d)
  printf '%b' '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x28\x00' \
    '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08' \
    '\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00' \
    '\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x00\x00\x00\x00\xcd\x80' >"$work/i386"
  chmod +x "$work/i386"
  "$work/i386" 2>"$work/error" || status=$?
  local reason
  reason=$(sed 's/^.*: //' "$work/error" | tail -n1)
  rm -rf "$work"
  [ "$status" -eq 0 ] ||
    say_no "this machine's kernel does not execute 32-bit x86 programs (${reason:-exit code $status})"
}

if [ "${1:-}" = --kernel-i386 ]; then
  kernel_runs_i386
  echo yes
  exit 0
fi

if [ $# -ne 2 ]; then
  echo "usage: scripts/probe-windows-arch.sh x86|x64 PREFIX | --kernel-i386" >&2
  exit 2
fi
arch=$1 prefix=$2
case $arch in
  x86) compiler=i686-w64-mingw32-gcc wine=${KELVORA_WINE:-wine} wine_arch=win32
       kernel_runs_i386 ;;
  x64) compiler=x86_64-w64-mingw32-gcc wine=${KELVORA_WINE:-/usr/lib/wine/wine64} wine_arch=win64 ;;
  *) echo "probe-windows-arch: the architecture is x86 or x64, not '$arch'" >&2; exit 2 ;;
esac
command -v "$compiler" >/dev/null || say_no "$compiler is not installed"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '#include <stdio.h>\nint main(void) { puts("kelvora-probe-ok"); return 0; }\n' >"$work/probe.c"
"$compiler" -O1 -o "$work/probe.exe" "$work/probe.c"
mkdir -p "$prefix"
# Output to files, not pipes: the first run boots the prefix, and the programs that boot leaves
# running would hold a pipe open.
status=0
WINEPREFIX=$(realpath "$prefix") WINEARCH=$wine_arch WINEDEBUG=-all \
  timeout 300 "$wine" "$work/probe.exe" </dev/null >"$work/out" 2>"$work/error" || status=$?
if [ "$status" -ne 0 ] || ! grep -q kelvora-probe-ok "$work/out"; then
  reason=$(grep -v '^\s*$' "$work/error" | tail -n1)
  say_no "$wine could not run a $arch program (${reason:-exit code $status})"
fi
echo yes

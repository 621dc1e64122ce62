#!/usr/bin/env bash
# Installs what building and testing need, and only what is missing: Debian packages, then npm packages.
# With --windows-only (as scripts/build-windows.sh sources it) it installs only what the Windows
# builds and their tests under Wine need, so the Linux path never waits for them.
set -euo pipefail
cd "$(dirname "$0")/.."

# Runs apt-get as root, waiting for another apt-get that holds the lock.
apt_get() {
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 "$@"
}

not_installed() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

# The MinGW-w64 cross compilers, 64-bit Wine, NSIS, the CA list the Windows build ships, and the
# source entries that let build-windows.sh fetch Debian's OpenSSL and curl sources; 32-bit Wine
# only where the kernel runs 32-bit programs: elsewhere wine32 and the i386 libraries it pulls in
# fail in their own installation scripts ("Exec format error") and would leave apt broken.
install_windows_deps() {
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  local updated=0 wine32=""
  if scripts/probe-windows-arch.sh --kernel-i386 >/dev/null; then
    wine32=wine32:i386
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $sudo dpkg --add-architecture i386
      updated=1
    fi
  fi
  local sources=/etc/apt/sources.list.d/kelvora-src.sources
  if [ ! -f "$sources" ] && [ ! -f "${sources%.sources}.list" ]; then
    # The deb-src twins of the machine's own deb822 entries, so sources come from the same mirror.
    local existing
    existing=$(ls /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v "$sources" || true)
    if [ -n "$existing" ]; then
      sed -n '/^Types:.*deb/,/^$/p' $existing | sed 's/^Types:.*/Types: deb-src/' |
        $sudo tee "$sources" >/dev/null
    elif [ -f /etc/apt/sources.list ]; then
      grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
        $sudo tee "${sources%.sources}.list" >/dev/null
    fi
    updated=1
  fi
  local missing
  missing=$(not_installed g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 $wine32 \
    nsis osslsigncode ca-certificates dpkg-dev nlohmann-json3-dev googletest nodejs cmake ninja-build)
  if [ -n "$missing" ] || [ "$updated" -eq 1 ]; then
    apt_get update -qq
  fi
  if [ -n "$missing" ]; then
    echo "Installing Debian packages: $missing"
    apt_get install -y -qq --no-install-recommends $missing
  fi
}

if [ "${1:-}" = "--windows-only" ]; then
  install_windows_deps
  return 0 2>/dev/null || exit 0
fi

packages=(
  g++ cmake ninja-build pkg-config make
  libssl-dev openssl libcurl4-openssl-dev nlohmann-json3-dev libinih-dev
  libgtest-dev libgmock-dev libbenchmark-dev libboost-dev
  nodejs npm chromium
  dpkg-dev file
  clang libclang-rt-14-dev
  php-cli default-jdk-headless python3
  prometheus prometheus-cpp-dev libsystemd-dev
  systemd util-linux  # systemd-journald and journalctl, unshare: the journal events test
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# A Node.js that is already on the PATH (for instance from another source) serves as well as Debian's.
if command -v node >/dev/null && command -v npm >/dev/null; then
  missing=("${missing[@]/nodejs}"); missing=("${missing[@]/npm}")
fi
missing=($(printf '%s\n' "${missing[@]}" | grep -v '^$' || true))

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing Debian packages: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# npm packages are pinned by package-lock.json; reinstall only when the lock changed.
if [ -f package-lock.json ]; then
  if [ ! -f node_modules/.package-lock.json ] || ! cmp -s package-lock.json node_modules/.lock-stamp; then
    npm ci --no-audit --no-fund --loglevel=error
    cp package-lock.json node_modules/.lock-stamp
  fi
fi

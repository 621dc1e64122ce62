#!/usr/bin/env bash
# Installs what building and testing need, and only what is missing: Debian packages, then npm packages.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  g++ cmake ninja-build pkg-config make
  libssl-dev openssl libcurl4-openssl-dev nlohmann-json3-dev libinih-dev
  libgtest-dev libgmock-dev libbenchmark-dev libboost-dev
  nodejs npm chromium
  dpkg-dev file
  clang libclang-rt-14-dev
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

#!/usr/bin/env bash
# Builds the 32-bit Windows programs with MinGW-w64 into build-win32/ (or WIN_BUILD_DIR): the
# service, the simulator DLL, kelvora-token, the unit tests, which CTest runs under Wine, and the
# installer KelvoraSiTef-setup.exe in the build folder.
# OpenSSL and libcurl are cross-built once from Debian's source packages into build-win32/deps/.
#   scripts/build-windows.sh              builds
#   scripts/build-windows.sh --deps-only  builds only OpenSSL and libcurl
#   scripts/build-windows.sh --test       builds, then runs the tests under a headless Wine
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${WIN_BUILD_DIR:-build-win32}
deps=$root/$build_dir/deps
prefix=$deps/i686
host=i686-w64-mingw32
jobs=$(nproc)
export KELVORA_WIN32_PREFIX=$prefix

source scripts/install-deps.sh --windows-only

# The source of a Debian package, unpacked once into deps/src/<name>. The patched Debian source
# when apt can fetch all of it; the upstream tarball of the package otherwise (some mirrors carry
# the tarball of the newest security update but not its Debian files).
unpack_source() {
  local package=$1 directory=$deps/src/$1
  [ -d "$directory" ] && return
  mkdir -p "$deps/src/download-$package"
  (
    cd "$deps/src/download-$package"
    apt-get source -qq --download-only "$package" >/dev/null 2>&1 || true
    local dsc
    dsc=$(ls ./*.dsc 2>/dev/null | head -n1 || true)
    if [ -n "$dsc" ] && dpkg-source --no-check -x "$dsc" "$directory" >/dev/null 2>&1; then
      return
    fi
    local orig
    orig=$(ls ./*.orig.tar.* 2>/dev/null | grep -v '\.asc$' | head -n1 || true)
    if [ -z "$orig" ]; then
      # The newest version's files are missing: take the one of the main suite.
      local version
      version=$(apt-cache showsrc "$package" | awk '/^Version:/ {print $2}' | sort -V | head -n1)
      apt-get source -qq --download-only "$package=$version" >/dev/null
      orig=$(ls ./*.orig.tar.* | grep -v '\.asc$' | head -n1)
    fi
    mkdir -p "$directory"
    tar -xf "$orig" -C "$directory" --strip-components=1
  )
}

build_openssl() {
  [ -f "$prefix/lib/libssl.a" ] && return
  unpack_source openssl
  echo "Cross-building OpenSSL for $host"
  (
    cd "$deps/src/openssl"
    ./Configure mingw no-shared no-tests no-module no-dso --prefix="$prefix" --libdir=lib \
      --cross-compile-prefix=$host- >/dev/null
    make -j"$jobs" build_libs >/dev/null
    make install_dev >/dev/null
  )
}

build_curl() {
  [ -f "$prefix/lib/libcurl.a" ] && return
  unpack_source curl
  echo "Cross-building libcurl for $host"
  cmake -S "$deps/src/curl" -B "$deps/build-curl" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DHTTP_ONLY=ON \
    -DCURL_USE_OPENSSL=ON -DOPENSSL_ROOT_DIR="$prefix" -DOPENSSL_USE_STATIC_LIBS=ON \
    -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF -DENABLE_MANUAL=OFF -DCURL_DISABLE_LDAP=ON \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none >/dev/null
  cmake --build "$deps/build-curl" -j"$jobs" >/dev/null
  cmake --install "$deps/build-curl" >/dev/null
}

mkdir -p "$deps/src"
build_openssl
build_curl
[ "${1:-}" = "--deps-only" ] && exit 0

cmake -S . -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$build_dir" -j"$jobs" -- -k 0
# The installer from the programs just built; the Windows tests install it under Wine.
scripts/build-windows-installer.sh "$build_dir/bin" "$build_dir/KelvoraSiTef-setup.exe"

[ "${1:-}" = "--test" ] || exit 0

# A Wine prefix of the build's own, created once; one wineserver for the whole run, so each
# program starts in a second rather than booting Wine again. Wine's chatter stays out of the log.
export WINEPREFIX=$root/$build_dir/wineprefix WINEDEBUG=-all WINEARCH=win32
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w  # its server ends, so that the persistent one below is ours
fi
wineserver -p >/dev/null 2>&1 || true  # already running for this prefix: use it
# The prefix boots here, its output going nowhere: booted by the first test instead, the programs
# the boot leaves running (services.exe and its kin) would hold that test's output pipe open, and
# CTest would wait on it until the test's timeout.
wineboot </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
ctest --test-dir "$build_dir" --output-on-failure -j"$jobs"

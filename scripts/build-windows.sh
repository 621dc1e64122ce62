#!/usr/bin/env bash
# Builds the Windows programs with MinGW-w64 for one architecture: the service, the simulator DLL,
# kelvora-token, the unit tests, which CTest runs under Wine, and the installer
# KelvoraSiTef-setup.exe in the build folder.
#   --arch x86   (the default) 32-bit programs into build-win32/
#   --arch x64   64-bit programs into build-win64/, for stores whose SiTef library is 64-bit
# WIN_BUILD_DIR names another folder. OpenSSL, libcurl and prometheus-cpp's core are cross-built
# once from Debian's source packages into <build>/deps/.
#   scripts/build-windows.sh [--arch A]              builds
#   scripts/build-windows.sh [--arch A] --deps-only  builds only the libraries above
#   scripts/build-windows.sh [--arch A] --test       builds, then runs the tests under a headless Wine
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

arch=x86
action=build
while [ $# -gt 0 ]; do
  case $1 in
    --arch) arch=${2:-}; shift 2 ;;
    --arch=*) arch=${1#--arch=}; shift ;;
    --deps-only) action=deps; shift ;;
    --test) action=test; shift ;;
    *) echo "build-windows: unknown argument $1" >&2; exit 2 ;;
  esac
done
case $arch in
  x86) host=i686-w64-mingw32 openssl_target=mingw wine_arch=win32 bits=32
       install_dir="C:/Program Files (x86)/Kelvora TEF Server" ;;
  x64) host=x86_64-w64-mingw32 openssl_target=mingw64 wine_arch=win64 bits=64
       install_dir="C:/Program Files/Kelvora TEF Server" ;;
  *) echo "build-windows: --arch must be x86 or x64, not '$arch'" >&2; exit 2 ;;
esac
build_dir=${WIN_BUILD_DIR:-build-win$bits}
deps=$root/$build_dir/deps
prefix=$deps/${host%%-*}
toolchain=$root/cmake/mingw-w64-${host%%-*}.cmake
jobs=$(nproc)
export KELVORA_WINDOWS_PREFIX=$prefix
# The Wine loader of the architecture: the 64-bit one by its own path, so that a machine with both
# never boots a 64-bit prefix with the 32-bit loader.
if [ "$arch" = x64 ]; then
  export KELVORA_WINE=/usr/lib/wine/wine64 WINELOADER=/usr/lib/wine/wine64
else
  export KELVORA_WINE=wine
fi

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

# OpenSSL never reads a configuration file by itself (the service runs as SYSTEM, and the default
# configuration folder of a cross-build would be a path of this machine, which on the till any
# local user could create on C:). Its own folders name the installation's, which only
# administrators may write; Configure takes a Windows path for a relative one, so they are given
# to make instead.
build_openssl() {
  [ -f "$prefix/lib/libssl.a" ] && return
  unpack_source openssl
  echo "Cross-building OpenSSL for $host"
  (
    cd "$deps/src/openssl"
    ./Configure "$openssl_target" no-shared no-tests no-module no-dso no-autoload-config \
      --prefix="$prefix" --libdir=lib --cross-compile-prefix=$host- >/dev/null
    # The 64-bit sources warn of Windows' socket type by the hundred: the warnings go to a log,
    # shown only when the build fails.
    make -j"$jobs" build_libs OPENSSLDIR="$install_dir/ssl" ENGINESDIR="$install_dir/engines" \
      MODULESDIR="$install_dir/modules" >/dev/null 2>"$deps/openssl-build.log" ||
      { cat "$deps/openssl-build.log" >&2; exit 1; }
    make install_dev >/dev/null
  )
}

build_curl() {
  [ -f "$prefix/lib/libcurl.a" ] && return
  unpack_source curl
  echo "Cross-building libcurl for $host"
  cmake -S "$deps/src/curl" -B "$deps/build-curl" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DHTTP_ONLY=ON \
    -DCURL_USE_OPENSSL=ON -DOPENSSL_ROOT_DIR="$prefix" -DOPENSSL_USE_STATIC_LIBS=ON \
    -DCURL_DISABLE_OPENSSL_AUTO_LOAD_CONFIG=ON \
    -DCMAKE_C_FLAGS="-ffile-prefix-map=$deps/src/curl/=curl/" \
    -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF -DENABLE_MANUAL=OFF -DCURL_DISABLE_LDAP=ON \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none >/dev/null
  cmake --build "$deps/build-curl" -j"$jobs" >/dev/null
  cmake --install "$deps/build-curl" >/dev/null
}

# prometheus-cpp's core: the metric types and text format of the metrics endpoint, without its
# pull and push parts, which bring a web server and an HTTP client of their own.
build_prometheus_cpp() {
  [ -f "$prefix/lib/libprometheus-cpp-core.a" ] && return
  unpack_source prometheus-cpp
  echo "Cross-building prometheus-cpp for $host"
  cmake -S "$deps/src/prometheus-cpp" -B "$deps/build-prometheus-cpp" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DENABLE_PULL=OFF -DENABLE_PUSH=OFF -DENABLE_COMPRESSION=OFF \
    -DENABLE_TESTING=OFF -DUSE_THIRDPARTY_LIBRARIES=OFF -DGENERATE_PKGCONFIG=OFF \
    -DOVERRIDE_CXX_STANDARD_FLAGS=OFF \
    -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$deps/src/prometheus-cpp/=prometheus-cpp/" >/dev/null
  cmake --build "$deps/build-prometheus-cpp" -j"$jobs" >/dev/null
  cmake --install "$deps/build-prometheus-cpp" >/dev/null
}

# Libraries built by an earlier recipe (other flags, another folder) are built again from fresh
# sources, since make does not notice changed flags.
mkdir -p "$deps/src"
recipe=$(declare -f build_openssl build_curl | sha256sum | cut -d' ' -f1)
if [ "$(cat "$prefix/recipe" 2>/dev/null)" != "$recipe" ]; then
  rm -rf "$prefix" "$deps/src/openssl" "$deps/src/curl" "$deps/build-curl"
fi
build_openssl
build_curl
echo "$recipe" >"$prefix/recipe"
# prometheus-cpp has a recipe of its own, so that adding or changing it does not cost a rebuild of
# OpenSSL and libcurl.
metrics_recipe=$(declare -f build_prometheus_cpp | sha256sum | cut -d' ' -f1)
if [ "$(cat "$prefix/recipe-prometheus-cpp" 2>/dev/null)" != "$metrics_recipe" ]; then
  rm -rf "$prefix/lib/libprometheus-cpp-core.a" "$prefix/include/prometheus" \
    "$prefix/lib/cmake/prometheus-cpp" "$deps/src/prometheus-cpp" "$deps/build-prometheus-cpp"
fi
build_prometheus_cpp
echo "$metrics_recipe" >"$prefix/recipe-prometheus-cpp"
[ "$action" = deps ] && exit 0

cmake -S . -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$build_dir" -j"$jobs" -- -k 0
# The certificate authorities of Debian's ca-certificates as the program's own list: the sales-API
# reports trust them besides Windows' store, which on a till may lack a root it never fetched.
cp /etc/ssl/certs/ca-certificates.crt "$build_dir/bin/ca-bundle.crt"
# The programs signed before the installer takes them (which signs itself and its uninstaller).
scripts/sign-windows.sh "$build_dir/bin/SvcKelvoraSiTef.exe" "$build_dir/bin/kelvora-token.exe" \
  "$build_dir/bin/dll/CliSiTef32I.dll"
# The installer from the programs just built; the Windows tests install it under Wine.
scripts/build-windows-installer.sh --arch "$arch" "$build_dir/bin" "$build_dir/KelvoraSiTef-setup.exe"

[ "$action" = test ] || exit 0

# A Wine prefix of the build's own, created once; one wineserver for the whole run, so each
# program starts in a second rather than booting Wine again. Wine's chatter stays out of the log.
export WINEPREFIX=$root/$build_dir/wineprefix WINEDEBUG=-all WINEARCH=$wine_arch
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$KELVORA_WINE" wineboot -i >/dev/null 2>&1
  wineserver -w  # its server ends, so that the persistent one below is ours
fi
wineserver -p >/dev/null 2>&1 || true  # already running for this prefix: use it
# The prefix boots here, its output going nowhere: booted by the first test instead, the programs
# the boot leaves running (services.exe and its kin) would hold that test's output pipe open, and
# CTest would wait on it until the test's timeout.
"$KELVORA_WINE" wineboot </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
ctest --test-dir "$build_dir" --output-on-failure -j"$jobs"

#!/usr/bin/env bash
# Cross-builds the 32-bit Windows core, tools and tests into build-windows/ (or BUILD_DIR).
# Installs the Debian packages it needs when they are missing, and builds libcurl (Schannel), minizip
# and GoogleTest from Debian's source packages into a cache outside the repository, once.
#   VELTRANO_WINDEPS       the cache (default: ~/.cache/veltrano-windeps)
#   VELTRANO_MINGW_TRIPLE  i686-w64-mingw32 (default) or x86_64-w64-mingw32 for 64-bit programs
#   BUILD_DIR              build folder (default: build-windows)
#   VELTRANO_TARGETS       build only these targets (default: all)
#   VELTRANO_WINDOWS_TESTS ON (default) or OFF: without the tests, GoogleTest is neither built nor needed
# With the argument "deps" it stops once the packages and the cached libraries are there; with
# "has-deps" it only tells, by its exit code, whether the cached libraries are already built.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

triple=${VELTRANO_MINGW_TRIPLE:-i686-w64-mingw32}
arch=${triple%%-*}
deps=${VELTRANO_WINDEPS:-$HOME/.cache/veltrano-windeps}
prefix=$deps/$triple
build_dir=${BUILD_DIR:-build-windows}
tests=${VELTRANO_WINDOWS_TESTS:-ON}
jobs=$(nproc)

# Prints how long each step took, so that CI's log shows where the time goes.
step_start=$SECONDS
step_done() {
  echo "-- $1: $((SECONDS - step_start)) s"
  step_start=$SECONDS
}

if [ "${1:-}" = has-deps ]; then
  needed=(lib/libcurl.a lib/libminizip.a include/rapidjson/rapidjson.h)
  [ "$tests" = OFF ] || needed+=(lib/libgtest.a)
  for f in "${needed[@]}"; do
    [ -f "$prefix/$f" ] || exit 1
  done
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# ---- packages ----
packages=(
  cmake ninja-build pkg-config dpkg-dev make
  "gcc-mingw-w64-${arch//_/-}-posix" "g++-mingw-w64-${arch//_/-}-posix" "mingw-w64-${arch//_/-}-dev"
  libz-mingw-w64-dev rapidjson-dev googletest
  wine
)
if [ "$arch" = i686 ]; then packages+=(wine32:i386); else packages+=(wine64); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
need_update=0
if [ "$arch" = i686 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi
# apt-get source needs the source entries.
sources=/etc/apt/sources.list.d/debian.sources
if [ -f "$sources" ] && grep -q '^Types: deb$' "$sources"; then
  $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' "$sources"
  need_update=1
fi
if [ ${#missing[@]} -gt 0 ] || [ "$need_update" = 1 ]; then
  $SUDO apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
step_done "packages"

# ---- libraries from Debian's sources, built once into the cache ----
mkdir -p "$deps/src" "$prefix/include" "$prefix/lib"

# Unpacks a Debian source package into $deps/src/<name> and prints that folder.
fetch_source() {
  local name=$1 package=$2
  if [ ! -d "$deps/src/$name" ]; then
    local tmp
    tmp=$(mktemp -d "$deps/src/.fetch-XXXXXX")
    (cd "$tmp" && apt-get source -qq "$package" >/dev/null 2>&1) || (cd "$tmp" && apt-get source "$package")
    local dir
    dir=$(find "$tmp" -mindepth 1 -maxdepth 1 -type d | head -n1)
    [ -n "$dir" ] || { echo "apt-get source $package unpacked nothing" >&2; exit 1; }
    mv "$dir" "$deps/src/$name"
    rm -rf "$tmp"
    step_done "apt-get source $package" >&2
  fi
  echo "$deps/src/$name"
}

if [ ! -f "$prefix/lib/libcurl.a" ]; then
  echo "== building libcurl for $triple =="
  src=$(fetch_source curl curl)
  # curl's own makefile for mingw, with its Windows configuration header: no configure script, whose
  # hundreds of cross-compiled probes cost more than the library itself. Static, Schannel, HTTP(S) only.
  out=$deps/build-curl-$arch
  rm -rf "$out"
  mkdir -p "$out/$triple" "$prefix/include/curl"
  disabled=(FTP FILE LDAP LDAPS RTSP DICT TELNET TFTP POP3 IMAP SMB SMTP GOPHER MQTT)
  # Its warnings would flood the log: they are kept, and shown when the build fails.
  if ! CC=gcc-posix CFLAGS=-O2 CPPFLAGS="-DCURL_STATICLIB ${disabled[*]/#/-DCURL_DISABLE_}" \
    make -s -j"$jobs" -C "$src/lib" -f Makefile.mk CFG=-zlib-schannel-sspi-ipv6 CROSSPREFIX="$triple-" \
    ZLIB_PATH="/usr/$triple" OBJ_DIR="$out/$triple" libcurl_a_LIBRARY="$out/libcurl.a" "$out/libcurl.a" \
    >"$out/build.log" 2>&1; then
    cat "$out/build.log" >&2
    echo "libcurl did not build for $triple" >&2
    exit 1
  fi
  cp "$out/libcurl.a" "$prefix/lib/"
  cp "$src/include/curl/"*.h "$prefix/include/curl/"
  step_done "libcurl"
fi

if [ ! -f "$prefix/lib/libminizip.a" ]; then
  echo "== building minizip for $triple =="
  # The security suite's zlib source is not served; the main suite's is.
  src=$(fetch_source zlib zlib/bookworm)
  out=$deps/build-minizip-$arch
  rm -rf "$out"
  mkdir -p "$out" "$prefix/include/minizip"
  for f in ioapi unzip zip iowin32; do
    "$triple-gcc-posix" -O2 -c "$src/contrib/minizip/$f.c" -I/usr/$triple/include -o "$out/$f.o"
  done
  "$triple-ar" rcs "$prefix/lib/libminizip.a" "$out"/*.o
  cp "$src/contrib/minizip/"{ioapi,unzip,zip,iowin32}.h "$prefix/include/minizip/"
  step_done "minizip"
fi

# Header-only; copied so that the cross compiler never searches the build machine's /usr/include.
if [ ! -f "$prefix/include/rapidjson/rapidjson.h" ]; then
  cp -r /usr/include/rapidjson "$prefix/include/"
fi

if [ "$tests" != OFF ] && [ ! -f "$prefix/lib/libgtest.a" ]; then
  echo "== building GoogleTest for $triple =="
  cmake -S /usr/src/googletest -B "$deps/build-gtest-$arch" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw32.cmake" -DVELTRANO_WINDEPS="$deps" \
    -DVELTRANO_MINGW_TRIPLE="$triple" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$deps/build-gtest-$arch" -j"$jobs" >/dev/null
  cmake --install "$deps/build-gtest-$arch" >/dev/null
  step_done "GoogleTest"
fi

[ "${1:-}" = deps ] && exit 0

# ---- the project ----
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw32.cmake" \
  -DVELTRANO_WINDEPS="$deps" -DVELTRANO_MINGW_TRIPLE="$triple" -DVELTRANO_UI=OFF -DVELTRANO_BENCH=OFF \
  -DVELTRANO_TESTS="$tests"
targets=()
for t in ${VELTRANO_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build_dir" -j"$jobs" "${targets[@]}"
step_done "the programs in $build_dir"

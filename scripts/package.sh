#!/usr/bin/env bash
# Makes the release archives into out/ (or --out DIR):
#   veltrano-<version>-linux-x86_64.tar.gz   the Linux veltrano, veltrano-update, veltrano-pack
#   veltrano-<version>-windows-x86.zip       veltrano.exe, veltrano-update.exe, veltrano-pack.exe (PE32)
# each holding one folder veltrano-<version>-<system>/ with the programs, an example launcher.cfg and
# the demo skin in res/. The version is the CMake project version.
#
#   scripts/package.sh [--out DIR] [--linux-only | --windows-only]
#
# The Linux programs are built into build-release/ (Release, no tests), the Windows tools into
# build-windows/ with scripts/build-windows.sh; veltrano.exe is taken from build-windows/ as the
# Windows window build leaves it there. Without it the Windows archive is not made and the script
# ends with status 1, after making what it can.
#   LINUX_BUILD_DIR     default build-release
#   WINDOWS_BUILD_DIR   default build-windows
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

out=$repo/out
linux=1
windows=1
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$2; shift 2 ;;
    --linux-only) windows=0; shift ;;
    --windows-only) linux=0; shift ;;
    *) echo "scripts/package.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
mkdir -p "$out"
out=$(cd "$out" && pwd)

version=$(sed -n 's/^project(veltrano VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "scripts/package.sh: no project version in CMakeLists.txt" >&2; exit 1; }
linux_build=${LINUX_BUILD_DIR:-build-release}
windows_build=${WINDOWS_BUILD_DIR:-build-windows}
triple=i686-w64-mingw32

say() { printf '== %s\n' "$*"; }

# The one executable named $2 that the build folder $1 made.
built_program() {
  find "$1" -type f -name "$2" -not -path '*/CMakeFiles/*' -not -path '*/wineprefix/*' \
    -not -path '*/demo-*' 2>/dev/null | head -n 1
}

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# Skin, login page and example configuration, the same in both archives but for the game's name.
say "drawing the demo skin"
demo/make-skin.sh "$stage/res" >/dev/null
cp demo/web/index.html "$stage/res/index.html"
# The example points at a local server, as the demo runs it (demo/run.sh --serve-only prints its address).
sed 's#@BASE@#http://127.0.0.1:8080#g' demo/launcher.cfg.in >"$stage/launcher.cfg"

# fill FOLDER: the shared files.
fill() {
  mkdir -p "$1"
  cp -r "$stage/res" "$1/res"
  cp "$stage/launcher.cfg" "$1/launcher.cfg"
}

status=0

if [ "$linux" = 1 ]; then
  say "building the Linux programs into $linux_build/"
  cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRANO_TESTS=OFF \
    -DVELTRANO_BENCH=OFF >/dev/null
  cmake --build "$linux_build" -j"$(nproc)" --target veltrano veltrano-update veltrano-pack
  name=veltrano-$version-linux-x86_64
  dir=$stage/$name
  fill "$dir"
  for program in veltrano veltrano-update veltrano-pack; do
    path=$(built_program "$linux_build" "$program")
    [ -n "$path" ] || { echo "scripts/package.sh: $program was not built in $linux_build/" >&2; exit 1; }
    install -m 755 -s "$path" "$dir/$program"
  done
  tar -C "$stage" --owner=0 --group=0 --numeric-owner --sort=name -czf "$out/$name.tar.gz" "$name"
  say "made $out/$name.tar.gz"
fi

if [ "$windows" = 1 ]; then
  say "building the Windows tools into $windows_build/"
  BUILD_DIR=$windows_build VELTRANO_TARGETS="veltrano-update veltrano-pack" scripts/build-windows.sh >/dev/null
  # The windowed launcher, when this source tree builds it for Windows.
  if cmake --build "$windows_build" --target help 2>/dev/null | grep -q '^veltrano:'; then
    cmake --build "$windows_build" -j"$(nproc)" --target veltrano
  fi
  name=veltrano-$version-windows-x86
  dir=$stage/$name
  fill "$dir"
  sed -i 's#"game_exe_name": "emberfall"#"game_exe_name": "emberfall.exe"#' "$dir/launcher.cfg"
  grep -q '"game_exe_name": "emberfall.exe"' "$dir/launcher.cfg" ||
    { echo "scripts/package.sh: the example configuration names no game program to adapt" >&2; exit 1; }
  missing=()
  for program in veltrano.exe veltrano-update.exe veltrano-pack.exe; do
    path=$(built_program "$windows_build" "$program")
    if [ -z "$path" ]; then
      missing+=("$program")
      continue
    fi
    if ! "$triple-objdump" -f "$path" 2>/dev/null | grep -q 'file format pei-i386'; then
      echo "scripts/package.sh: $path is not a 32-bit Windows program" >&2
      missing+=("$program")
      continue
    fi
    cp "$path" "$dir/$program"
    "$triple-strip" "$dir/$program"
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "scripts/package.sh: MISSING from $windows_build/: ${missing[*]}" >&2
    echo "scripts/package.sh: veltrano.exe comes from the Windows window build (scripts/build-windows.sh);" \
      "the Windows archive is not made." >&2
    status=1
  else
    rm -f "$out/$name.zip"
    (cd "$stage" && cmake -E tar cf "$out/$name.zip" --format=zip "$name")
    say "made $out/$name.zip"
  fi
fi

exit "$status"

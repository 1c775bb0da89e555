#!/usr/bin/env bash
# veltrano-update.exe under wine against the Linux veltrano-devserver: installs the demo game into a
# launcher folder with Chinese characters in its name, and the installed files equal the packed ones.
#   update_e2e.sh <veltrano-devserver> <veltrano-pack> <veltrano-update.exe> <wine> <source dir>
set -euo pipefail
devserver=$1 pack=$2 updater=$3 wine=$4 src=$5

work=$(mktemp -d "${TMPDIR:-/tmp}/veltrano-win-e2e-XXXXXX")
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

game=$work/game
mkdir -p "$game/data" "$work/server/game" "$work/server/mirror/game"
c++ -std=c++17 -O1 "$src/demo/game/demo_game.cpp" -o "$game/emberfall"
head -c $((3 * 1024 * 1024)) /dev/urandom >"$game/data/world.pak"
printf 'Emberfall demo build 1.0.1\n' >"$game/README.txt"
"$pack" --game "$game" --version 1.0.1 --out-dir "$work/server/game" --name game-1.0.1.zip >/dev/null

"$devserver" --root "$work/server" >"$work/devserver.out" 2>"$work/devserver.err" &
server_pid=$!
base=""
for _ in $(seq 300); do
  base=$(head -n 1 "$work/devserver.out" 2>/dev/null || true)
  [ -n "$base" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/devserver.err" >&2; exit 1; }
  sleep 0.1
done
[ -n "$base" ] || { echo "the server did not come up" >&2; exit 1; }

install="$work/启动器 安装"
mkdir -p "$install"
sed "s#@BASE@#$base#g" "$src/demo/launcher.cfg.in" >"$install/launcher.cfg"
cp "$updater" "$install/veltrano-update.exe"

# wine reads the Unix command line in the locale's character set.
status=0
LC_ALL=C.UTF-8 "$wine" "$install/veltrano-update.exe" --dir "Z:$install" </dev/null >"$work/update.out" 2>&1 ||
  status=$?
if [ "$status" != 0 ]; then
  echo "veltrano-update.exe exited with $status:" >&2
  cat "$work/update.out" >&2
  exit 1
fi
# The packer adds the top-level version file.
if [ "$(cat "$install/game/version")" != 1.0.1 ] || ! diff -r -x version "$game" "$install/game" >"$work/diff.out"; then
  echo "the installed game differs from the packed one:" >&2
  cat "$work/diff.out" "$work/update.out" >&2
  exit 1
fi
echo "installed $(find "$install/game" -type f | wc -l) files byte for byte into $install/game"

#!/usr/bin/env bash
# Prepares a demo installation of the launcher and plays a first start against a local server:
# the demo game is packed, served at a limited rate with a login page and a report collector, and
# the launcher updates it and starts it once the player presses "Play".
#
#   demo/run.sh BUILD_DIR [--out DIR] [--headless] [--serve-only] [--windows EXE]
#
#   --out DIR      where demo-install/, demo-server/ and demo-home/ go (default: BUILD_DIR)
#   --windows EXE  start this Windows launcher (veltrano.exe) under wine instead of the Linux one;
#                  its wine prefix is demo-wineprefix/ unless WINEPREFIX is set, and VELTRANO_WINE
#                  names the wine program (default: wine, or wine64 where 32-bit programs cannot run)
#   --headless     use veltrano-update on the terminal even when a display is available
#   --serve-only   prepare and serve, print "demo ready: <install dir> <server url>", and keep serving
#                  until interrupted; the launcher is not started
#
# Environment: DEMO_GAME_MIB (size of the game's data, default 48), DEMO_RATE (bytes per second for
# each download connection, default 900000), DEMO_PLAYER (player name for the headless login).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: demo/run.sh BUILD_DIR [--out DIR] [--headless] [--serve-only]}" && pwd)
shift
out=$build
headless=0
serve_only=0
windows_exe=""
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$2; shift 2 ;;
    --headless) headless=1; shift ;;
    --serve-only) serve_only=1; shift ;;
    --windows) windows_exe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    *) echo "demo/run.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
mkdir -p "$out"
out=$(cd "$out" && pwd)

game_mib=${DEMO_GAME_MIB:-48}
rate=${DEMO_RATE:-900000}
player=${DEMO_PLAYER:-Traveller}
version=3.0.1
archive=emberfall-$version.zip

say() { printf '\033[1;33m==>\033[0m %s\n' "$*"; }
tool() {
  local candidate
  for candidate in "$build/tools/$1/$1" "$build/$1"; do
    [ -f "$candidate" ] && [ -x "$candidate" ] && { echo "$candidate"; return 0; }
  done
  candidate=$(find "$build" -type f -name "$1" -perm -u+x -not -path '*/CMakeFiles/*' -not -path '*/demo-*' \
    2>/dev/null | head -n 1)
  [ -n "$candidate" ] || { echo "demo/run.sh: $1 is not built in $build" >&2; return 1; }
  echo "$candidate"
}

pack=$(tool veltrano-pack)
devserver=$(tool veltrano-devserver)
updater=$(tool veltrano-update)
launcher=$(tool veltrano || true)

install=$out/demo-install
server=$out/demo-server
home=$out/demo-home
work=$out/demo-work
reports=$out/demo-reports.jsonl

say "Preparing the demo game ($game_mib MiB of data)"
rm -rf "$install" "$server" "$home" "$work/game" "$reports"
mkdir -p "$install" "$server/game" "$server/mirror/game" "$home/data" "$home/Desktop" "$work/game/data"
gtk_flags=()
if pkg-config --exists gtk+-3.0 2>/dev/null; then
  read -r -a gtk_flags <<<"-DDEMO_GAME_GTK $(pkg-config --cflags --libs gtk+-3.0)"
fi
c++ -std=c++17 -O2 "$here/game/demo_game.cpp" "${gtk_flags[@]}" -o "$work/game/emberfall"
# Random data does not compress, so the archive is as big as the game and the download takes a while.
head -c "$((game_mib * 1024 * 1024))" /dev/urandom >"$work/game/data/world.pak"
printf 'Emberfall demo build %s\n' "$version" >"$work/game/README.txt"

say "Packing it with veltrano-pack"
"$pack" --game "$work/game" --version "$version" --out-dir "$server/game" --name "$archive" \
  --level 1 >"$work/pack.out"
sed 's/^/    /' "$work/pack.out"
# The fallback addresses serve the same files.
ln -f "$server/game/$archive" "$server/mirror/game/$archive" 2>/dev/null || cp "$server/game/$archive" "$server/mirror/game/"
cp "$server/game/version.json" "$server/mirror/game/version.json"
cp "$here/web/login.html" "$server/login.html"

say "Starting veltrano-devserver (each download connection limited to $rate bytes/s)"
"$devserver" --root "$server" --reports "$reports" \
  --faults "{\"path\":\"/game/$archive\",\"rate\":$rate}" >"$work/devserver.out" 2>"$work/devserver.err" &
server_pid=$!
cleanup() { kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; }
trap cleanup EXIT
trap 'exit 130' INT TERM
base=""
for _ in $(seq 100); do
  base=$(head -n 1 "$work/devserver.out" 2>/dev/null || true)
  [ -n "$base" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/devserver.err" >&2; exit 1; }
  sleep 0.1
done
[ -n "$base" ] || { echo "demo/run.sh: the server did not come up" >&2; exit 1; }
say "Serving $server at $base"

say "Installing the launcher into $install"
sed "s#@BASE@#$base#g" "$here/launcher.cfg.in" >"$install/launcher.cfg"
"$here/make-skin.sh" "$install/res"
cp "$here/web/index.html" "$install/res/index.html"
cp "$updater" "$install/veltrano-update"
[ -n "$launcher" ] && cp "$launcher" "$install/veltrano"

# The demo keeps its menu entry and shortcut inside the demo folder, not in your home.
export XDG_DATA_HOME=$home/data XDG_DESKTOP_DIR=$home/Desktop

launch_args=(--token=demo-portal-token --source=demo --serverid=7)
if [ "$serve_only" = 1 ]; then
  echo "demo ready: $install $base"
  wait "$server_pid"
  exit 0
fi

if [ -n "$windows_exe" ]; then
  [ -n "${DISPLAY:-}" ] || { echo "demo/run.sh: --windows needs a display (DISPLAY)" >&2; exit 1; }
  cp "$windows_exe" "$install/veltrano.exe"
  wine=${VELTRANO_WINE:-}
  if [ -z "$wine" ]; then
    wine=/usr/lib/wine/wine
    "$wine" --version >/dev/null 2>&1 || wine=/usr/lib/wine/wine64
  fi
  export WINEPREFIX=${WINEPREFIX:-$out/demo-wineprefix} WINEDEBUG=${WINEDEBUG:--all}
  say "Starting veltrano.exe under wine (its first start prepares $WINEPREFIX); close it with its button"
  # A new prefix would otherwise stop on offers to download the browser engine and .NET runtime.
  WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >/dev/null 2>&1 || true
  # wine has no browser engine offline: the login panel stays empty, so the game is not started.
  (cd "$install" && "$wine" veltrano.exe "${launch_args[@]}") || true
elif [ "$headless" = 0 ] && [ -n "${DISPLAY:-}" ] && [ -x "$install/veltrano" ]; then
  say "Starting the launcher: sign in and press Play once the download is complete"
  "$install/veltrano" "${launch_args[@]}" || true
  # The launcher ends as soon as the game runs; give the game a moment to record its start.
  for _ in $(seq 20); do [ -f "$install/game/launch.txt" ] && break; sleep 0.2; done
else
  # Same player id and callback info as the login page gives (FNV-1a of the name).
  uid=$(printf '%s' "$player" | od -An -v -tu1 | tr -s ' \n' '\n' | sed '/^$/d' | awk '
    function xor8(a, b,   r, bit) { r = 0; for (bit = 1; bit < 256; bit *= 2) if ((int(a / bit) + int(b / bit)) % 2) r += bit; return r }
    BEGIN { h = 2166136261 }
    { low = h % 256; h = h - low + xor8(low, $1); h = ((h % 256) * 16777216 + h * 403) % 4294967296 }
    END { printf "%d\n", h % 1000000 + 1 }')
  login="{\"uid\":$uid,\"callback_info\":\"realm7-$uid\"}"
  say "No display: updating with veltrano-update and signing in as $player (uid $uid)"
  "$install/veltrano-update" --dir "$install" --login "$login" "${launch_args[@]}"
  for _ in $(seq 20); do [ -f "$install/game/launch.txt" ] && break; sleep 0.2; done
fi

if [ -f "$install/game/launch.txt" ]; then
  say "The demo game started with:"
  grep -E '^(uid|cbinfo|login)=' "$install/game/launch.txt" | sed 's/^/    /'
else
  say "The demo game was not started (closed before Play?)"
fi
sleep 1  # reports still in flight when the launcher ended
types=$(grep -o '"data_type":"[0-9]*"' "$reports" 2>/dev/null | grep -o '[0-9]*' | tr '\n' ' ' || true)
say "Reports received by the collector: ${types:-none}"
say "Log: $install/Veltrano.log"

#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and runs their tests under wine with ctest.
# The product is 32-bit; where this machine cannot run 32-bit code (wine32's loader is refused by the
# kernel), the same sources are also built as 64-bit programs into build-windows64/ and those are
# tested under wine64, and the script says so.
#   VELTRANO_CTEST_ARGS  extra ctest arguments
# With the argument "has-deps" it only tells, by its exit code, whether the cross-built libraries it
# needs are already cached (building them takes about 25 minutes).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

if [ "${1:-}" = has-deps ]; then
  scripts/build-windows.sh has-deps || exit 1
  # The 64-bit libraries are needed too where 32-bit programs cannot run.
  /usr/lib/wine/wine --version >/dev/null 2>&1 && exit 0
  VELTRANO_MINGW_TRIPLE=x86_64-w64-mingw32 scripts/build-windows.sh has-deps
  exit
fi

scripts/build-windows.sh deps

test_dir=build-windows
triple=i686-w64-mingw32
wine=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver32
if "$wine" --version >/dev/null 2>&1; then
  scripts/build-windows.sh
else
  echo "== this machine cannot run 32-bit programs: testing the 64-bit build under wine64 =="
  # The 32-bit tools are still built; their tests would only be built to sit unused.
  VELTRANO_TARGETS="veltrano veltrano-update veltrano-pack" scripts/build-windows.sh
  test_dir=build-windows64
  triple=x86_64-w64-mingw32
  wine=/usr/lib/wine/wine64
  wineserver=/usr/lib/wine/wineserver64
  VELTRANO_MINGW_TRIPLE=$triple BUILD_DIR=$test_dir scripts/build-windows.sh
fi

# The Linux server and packer that the end-to-end test runs beside the Windows program.
host_build=${VELTRANO_HOST_BUILD:-build}
if [ ! -x "$host_build/tools/veltrano-devserver/veltrano-devserver" ] ||
  [ ! -x "$host_build/tools/veltrano-pack/veltrano-pack" ]; then
  scripts/install-deps.sh
  cmake -S . -B "$host_build" -G Ninja -DVELTRANO_UI=OFF -DVELTRANO_TESTS=OFF -DVELTRANO_BENCH=OFF >/dev/null
  cmake --build "$host_build" -j"$(nproc)" --target veltrano-devserver veltrano-pack
fi
cmake "$test_dir" -DVELTRANO_HOST_BUILD="$repo/$host_build" >/dev/null

# One prefix per build folder; its first start takes a while.
export WINEPREFIX=$repo/$test_dir/wineprefix WINEDEBUG=-all
trap '"$wineserver" -k >/dev/null 2>&1 || true; [ -z "${xvfb_pid:-}" ] || kill "$xvfb_pid" 2>/dev/null || true' EXIT

# The web dialog's and the launcher window's tests make windows, which wine can only do on an X
# display: without one, a private Xvfb serves the run.
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  exec 3< <(exec Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp -noreset 2>/dev/null)
  xvfb_pid=$!
  read -r display <&3 || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=:$display
fi

# With a display, a new prefix would otherwise stop on the offers to download the browser engine
# and the .NET runtime; the tests need neither.
WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >/dev/null 2>&1 || true
# A server kept running for the whole run spares every test program the server's start.
"$wineserver" -p || true  # exits non-zero when one runs already
# wine's background programs (the desktop window among them, with a display) start with the first
# program and keep its output open; started here, they never hold a test's output past its end.
WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot >/dev/null 2>&1 || true

# shellcheck disable=SC2086
ctest --test-dir "$test_dir" --output-on-failure -j"$(nproc)" ${VELTRANO_CTEST_ARGS:-}

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

# The launcher window's test draws on an X server of its own, started before wine so that every
# wine program of the run shares it.
xvfb_pid=""
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -s "$display_file" ]; then
  export DISPLAY=":$(head -n 1 "$display_file")"
else
  echo "== Xvfb did not start: the launcher window's test will fail for want of a display ==" >&2
  unset DISPLAY
fi
rm -f "$display_file"

# One prefix per build folder; its first start takes a while. A server kept running for the whole
# run spares every test program the server's start.
export WINEPREFIX=$repo/$test_dir/wineprefix WINEDEBUG=-all
"$wine" wineboot -i >/dev/null 2>&1 || true
"$wineserver" -p || true  # exits non-zero when one runs already
trap '"$wineserver" -k >/dev/null 2>&1 || true; [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true' EXIT

# shellcheck disable=SC2086
ctest --test-dir "$test_dir" --output-on-failure -j"$(nproc)" ${VELTRANO_CTEST_ARGS:-}

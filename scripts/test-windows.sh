#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and runs their tests under wine with ctest:
# the unit and integration suites of the core modules, tests/windows, and the updater end to end
# against the Linux dev server.
# The product is 32-bit; where this machine cannot run 32-bit code (the kernel refuses it, and with it
# wine32's loader), the same sources are also built as 64-bit programs into build-windows64/ and those
# are tested under wine64, and the script says so.
#   VELTRANO_CTEST_ARGS          extra ctest arguments
#   VELTRANO_WINDOWS_TESTED_ONLY 1: build only what the tests run (CI): where they run the 64-bit
#                                programs, the 32-bit ones and their libraries are left out
# With the argument "build" it stops once the programs and tests are built. With "has-deps" it only
# tells, by its exit code, whether the cross-built libraries it needs are already cached.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

# Whether this machine runs 32-bit programs: wine32 when it is installed, else the kernel, asked with
# the smallest 32-bit program there is (an ELF header, one segment, and exit(0) through int 0x80).
runs_32bit() {
  if [ -e /usr/lib/wine/wine ]; then
    /usr/lib/wine/wine --version >/dev/null 2>&1
    return
  fi
  local probe status=0
  probe=$(mktemp)
  local elf='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'
  elf+='\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00'
  elf+='\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
  elf+='\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
  elf+='\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'
  printf %b "$elf" >"$probe"
  chmod +x "$probe"
  "$probe" >/dev/null 2>&1 || status=$?
  rm -f "$probe"
  return "$status"
}
runs32=1
runs_32bit || runs32=0
tested_only=${VELTRANO_WINDOWS_TESTED_ONLY:-0}

if [ "${1:-}" = has-deps ]; then
  [ "$runs32" = 1 ] && exec scripts/build-windows.sh has-deps
  if [ "$tested_only" != 1 ]; then
    VELTRANO_WINDOWS_TESTS=OFF scripts/build-windows.sh has-deps || exit 1
  fi
  VELTRANO_MINGW_TRIPLE=x86_64-w64-mingw32 scripts/build-windows.sh has-deps
  exit
fi

test_dir=build-windows
triple=i686-w64-mingw32
wine=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver32
if [ "$runs32" = 1 ]; then
  scripts/build-windows.sh
else
  echo "== this machine cannot run 32-bit programs: testing the 64-bit build under wine64 =="
  # The 32-bit programs are still built (the launcher among them); their tests would only sit unused.
  if [ "$tested_only" != 1 ]; then
    VELTRANO_WINDOWS_TESTS=OFF scripts/build-windows.sh
  fi
  test_dir=build-windows64
  triple=x86_64-w64-mingw32
  wine=/usr/lib/wine/wine64
  wineserver=/usr/lib/wine/wineserver64
  VELTRANO_MINGW_TRIPLE=$triple BUILD_DIR=$test_dir scripts/build-windows.sh
fi
[ "${1:-}" = build ] && exit 0

# The Linux server and packer that the tests run beside the Windows programs.
host_build=${VELTRANO_HOST_BUILD:-build}
if [ ! -f "$host_build/CMakeCache.txt" ]; then
  scripts/install-deps.sh
  cmake -S . -B "$host_build" -G Ninja -DVELTRANO_UI=OFF -DVELTRANO_TESTS=OFF -DVELTRANO_BENCH=OFF >/dev/null
fi
cmake --build "$host_build" -j"$(nproc)" --target veltrano-devserver veltrano-pack
cmake "$test_dir" -DVELTRANO_HOST_BUILD="$repo/$host_build" >/dev/null

# A Windows program under wine cannot start and end a Linux program: the tests ask this spawner for
# their dev servers (tests/support/DevServer.h).
spawner_out=$(mktemp)
"$host_build/tools/veltrano-devserver/veltrano-devserver" --spawner >"$spawner_out" &
spawner_pid=$!
until [ -s "$spawner_out" ]; do
  kill -0 "$spawner_pid" 2>/dev/null || { echo "the dev server's spawner did not start" >&2; exit 1; }
  sleep 0.1
done
VELTRANO_DEVSERVER_SPAWNER=$(head -n 1 "$spawner_out")
export VELTRANO_DEVSERVER_SPAWNER

# One prefix per build folder; its first start takes a while.
export WINEPREFIX=$repo/$test_dir/wineprefix WINEDEBUG=-all
trap '"$wineserver" -k >/dev/null 2>&1 || true; [ -z "${xvfb_pid:-}" ] || kill "$xvfb_pid" 2>/dev/null || true
      kill "$spawner_pid" 2>/dev/null || true; rm -f "$spawner_out"' EXIT

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

status=0
# shellcheck disable=SC2086
ctest --test-dir "$test_dir" --output-on-failure -j"$(nproc)" ${VELTRANO_CTEST_ARGS:-} || status=$?

# What does not apply on Windows is skipped, never passed: the reasons the tests gave.
awk '/^\[ RUN      \] /{name=$4} skip{print "skipped on Windows: " name ": " $0; skip=0} /: Skipped$/{skip=1}' \
  "$test_dir/Testing/Temporary/LastTest.log" | sort -u
exit "$status"

#!/usr/bin/env bash
# Installs what is missing, builds the launcher and its tools, prepares a demo installation and runs
# the launcher against a local update server. Without a display it runs the headless updater instead.
# Arguments are passed to demo/run.sh (--headless, --out DIR, --serve-only); see docs/demo.md.
# With --windows it cross-builds veltrano.exe (scripts/build-windows.sh) and starts that under wine
# against the same local server.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --windows ]; then
  shift
  windows_exe=build-windows/src/winui/veltrano.exe
  if /usr/lib/wine/wine --version >/dev/null 2>&1 || ! [ -x /usr/lib/wine/wine64 ]; then
    VELTRANO_TARGETS=veltrano scripts/build-windows.sh
  else
    # This machine cannot run 32-bit programs: the same launcher, built for 64-bit Windows.
    windows_exe=build-windows64/src/winui/veltrano.exe
    VELTRANO_MINGW_TRIPLE=x86_64-w64-mingw32 BUILD_DIR=build-windows64 VELTRANO_TARGETS=veltrano \
      scripts/build-windows.sh
  fi
  scripts/install-deps.sh
  cmake -S . -B build -G Ninja
  cmake --build build -j"$(nproc)" --target veltrano-update veltrano-pack veltrano-devserver
  exec demo/run.sh build --windows "$windows_exe" "$@"
fi
scripts/install-deps.sh
cmake -S . -B build -G Ninja
targets=(veltrano-update veltrano-pack veltrano-devserver)
# The window is left out of builds without GTK (-DVELTRANO_UI=OFF); the demo then runs headless.
if cmake --build build --target help | grep -q '^veltrano:'; then
  targets+=(veltrano)
fi
cmake --build build -j"$(nproc)" --target "${targets[@]}"
exec demo/run.sh build "$@"

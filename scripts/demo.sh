#!/usr/bin/env bash
# Installs what is missing, builds the launcher and its tools, prepares a demo installation and runs
# the launcher against a local update server. Without a display it runs the headless updater instead.
# Arguments are passed to demo/run.sh (--headless, --out DIR, --serve-only); see docs/demo.md.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja
targets=(veltrano-update veltrano-pack veltrano-devserver)
# The window is left out of builds without GTK (-DVELTRANO_UI=OFF); the demo then runs headless.
if cmake --build build --target help | grep -q '^veltrano:'; then
  targets+=(veltrano)
fi
cmake --build build -j"$(nproc)" --target "${targets[@]}"
exec demo/run.sh build "$@"

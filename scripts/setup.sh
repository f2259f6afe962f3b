#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian 12 machine. Run as root; safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev zlib1g-dev
  googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools libz-mingw-w64-dev
  wine wine64 xvfb xdotool imagemagick
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages (${missing[*]}); run this script as root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs the Debian packages the suite needs (when missing), configures and
# builds it. Usage: scripts/setup.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

builddir=${1:-build/release}
shift || true

# libdeflate and libzopfli: the whole-buffer coders of rasterpack -optimize
# (smaller image data than zlib's level 9) and of -optimizemax.
packages=(g++ cmake ninja-build pkg-config libpng-dev zlib1g-dev libdeflate-dev libzopfli-dev libgtest-dev python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
  elif command -v sudo >/dev/null; then
    echo "setup: not root, using sudo for apt-get"
    sudo apt-get update -q
    sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
  else
    echo "setup: not root and no sudo: install these packages first: ${missing[*]}" >&2
    exit 1
  fi
fi

cmake -S . -B "$builddir" -G Ninja "$@" >/dev/null
cmake --build "$builddir" -j"$(nproc)"

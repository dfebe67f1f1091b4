#!/usr/bin/env bash
# Runs every benchmark of the suite in one go and prints their figures.
# Builds an optimised tree first. Peers (ImageMagick, libvips) are installed
# by the individual scripts when missing.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
for script in bench/liborrim.sh bench/rasterpack.sh bench/rasterpack-palette.sh bench/rasterpack-threads.sh bench/rasterpack-optimize.sh bench/rasterunpack.sh bench/huecut.sh; do
  [ -x "$script" ] || continue
  echo "===== $script"
  "$script" || echo "(benchmark $script failed)"
done

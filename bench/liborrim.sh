#!/usr/bin/env bash
# Library benchmarks: PPM reading speed (readbench) and, when it is built,
# the colour histogram (histbench). Builds an optimised tree if needed.
#   bench/liborrim.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
builddir=${1:-build/release}
if [ ! -x "$builddir/bench/readbench" ]; then
  scripts/setup.sh "$builddir" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
echo "-- reading a 4096 x 4096 PPM row by row into Xel rows"
"$builddir/bench/readbench"
if [ -x "$builddir/bench/histbench" ]; then
  echo "-- colour histogram"
  "$builddir/bench/histbench"
fi

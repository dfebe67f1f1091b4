#!/usr/bin/env bash
# Sets up and builds the suite, then runs its main job on the sample image it
# makes itself. Results land in build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build/release
bin=build/release
out=build/demo
mkdir -p "$out"

"$bin/demo/makesample" > "$out/sample.ppm"
echo "demo: wrote the sample image $out/sample.ppm ($(wc -c < "$out/sample.ppm") bytes)"

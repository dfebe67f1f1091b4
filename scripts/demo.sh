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

# rasterpack: the sample as a PNG.
"$bin/encoder/rasterpack" "$out/sample.ppm" > "$out/sample.png"
echo "demo: rasterpack wrote $out/sample.png ($(wc -c < "$out/sample.png") bytes$(command -v file >/dev/null && echo ": $(file -b "$out/sample.png")"))"

# huecut: the sample reduced to 16 colours, without and with dithering.
"$bin/quantizer/huecut" -quiet 16 "$out/sample.ppm" > "$out/sample-16.ppm"
echo "demo: wrote $out/sample-16.ppm, the sample in 16 colours ($(wc -c < "$out/sample-16.ppm") bytes)"
"$bin/quantizer/huecut" -quiet -floyd 16 "$out/sample.ppm" > "$out/sample-16-dithered.ppm"
echo "demo: wrote $out/sample-16-dithered.ppm, the same dithered ($(wc -c < "$out/sample-16-dithered.ppm") bytes)"

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

# rasterunpack: every PNG the demo wrote, back to PNM; the round trip must give
# back the PPM it came from, sample for sample.
for png in "$out"/*.png; do
  ppm=${png%.png}.ppm
  [ -f "$ppm" ] || continue
  "$bin/decoder/rasterunpack" "$png" > "${png%.png}-unpacked.ppm"
  if cmp -s "$ppm" "${png%.png}-unpacked.ppm"; then
    echo "demo: rasterunpack decoded $png back to $ppm sample for sample (round trip checked)"
  else
    echo "demo: ROUND TRIP FAILED: rasterunpack's decoding of $png differs from $ppm" >&2
    exit 1
  fi
done

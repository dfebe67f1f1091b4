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

# --- rasterpack on few-colour images: the PNG form it chooses ---------------------
# A 16-colour chart, the 16-colour sample with a two-level mask, and the chart
# with a mask that covers exactly one of its colours; each is reported with
# the form rasterpack chose (its -verbose "writing ..." line) and its size.
pack_and_report() {
  local png=$1; shift
  local report form
  report=$("$bin/encoder/rasterpack" -verbose "$@" 2>&1 >"$png")
  form=$(sed -n 's/^rasterpack: writing \(an* .*\) file.*/\1/p' <<<"$report")
  local note=""
  grep -q "converting alpha mask to transparency index" <<<"$report" && note="; the mask became one transparent colour"
  echo "demo: rasterpack wrote $png as $form PNG ($(wc -c < "$png") bytes)$note"
}

pack_and_report "$out/sample-16.png" "$out/sample-16.ppm"
pack_and_report "$out/sample-16-dithered.png" "$out/sample-16-dithered.ppm"

# 4 x 4 cells of 16 x 16 pixels, one colour each, as a raw PPM (the round
# trip below compares bytes, and rasterunpack writes raw).
perl -e 'print "P6\n64 64\n255\n";
  for $y (0 .. 63) { for $x (0 .. 63) {
    $c = int($y / 16) * 4 + int($x / 16);
    print pack("C3", ($c % 4) * 85, int($c / 4) * 85, ($c * 37) % 256);
  } }' > "$out/chart-16.ppm"
pack_and_report "$out/chart-16.png" "$out/chart-16.ppm"

# The 16-colour sample under a disc-shaped mask of 0 and 255 only.
read -r _ cols rows _ < <(head -c 32 "$out/sample-16.ppm" | tr '\n' ' '; echo)
awk -v w="$cols" -v h="$rows" 'BEGIN {
  print "P2\n" w " " h "\n255"
  r = (w < h ? w : h) / 3
  for (y = 0; y < h; y++) for (x = 0; x < w; x++)
    print ((x - w / 2) ^ 2 + (y - h / 2) ^ 2 <= r * r) ? 255 : 0
}' > "$out/disc-mask.pgm"
pack_and_report "$out/sample-16-masked.png" -alpha "$out/disc-mask.pgm" "$out/sample-16.ppm"

# A mask that is 0 exactly on the chart's top-left colour: one transparent colour.
awk 'BEGIN {
  print "P2\n64 64\n255"
  for (y = 0; y < 64; y++) for (x = 0; x < 64; x++) print (x < 16 && y < 16) ? 0 : 255
}' > "$out/chart-mask.pgm"
pack_and_report "$out/chart-16-transparent.png" -alpha "$out/chart-mask.pgm" "$out/chart-16.ppm"

# rasterunpack: every PNG the demo wrote, back to PNM; the round trip must give
# back the PPM it came from, sample for sample. A palette holds 8-bit entries,
# so an image of a smaller maxval comes back at 255: its samples are compared
# after rescaling them to the original maxval.
same_samples() {
  perl -e '
    sub readppm { my ($name) = @_; local $/; open(my $f, "<:raw", $name) or die "$name: $!\n";
      my $d = <$f>; $d =~ s/^P6\s+(\d+)\s+(\d+)\s+(\d+)\s//s or die "$name: not a raw PPM\n";
      die "$name: maxval above 255\n" if $3 > 255; return ($1, $2, $3, [unpack("C*", $d)]); }
    my ($w1, $h1, $m1, $a) = readppm($ARGV[0]); my ($w2, $h2, $m2, $b) = readppm($ARGV[1]);
    exit 1 if $w1 != $w2 || $h1 != $h2 || @$a != @$b;
    for my $i (0 .. $#$a) { exit 1 if $a->[$i] != int(($b->[$i] * $m1 + int($m2 / 2)) / $m2); }
    exit 0;' "$1" "$2"
}
for png in "$out"/*.png; do
  ppm=${png%.png}.ppm
  [ -f "$ppm" ] || continue
  "$bin/decoder/rasterunpack" "$png" > "${png%.png}-unpacked.ppm"
  if cmp -s "$ppm" "${png%.png}-unpacked.ppm"; then
    echo "demo: rasterunpack decoded $png back to $ppm byte for byte (round trip checked)"
  elif same_samples "$ppm" "${png%.png}-unpacked.ppm"; then
    echo "demo: rasterunpack decoded $png back to $ppm sample for sample, at maxval 255 (round trip checked)"
  else
    echo "demo: ROUND TRIP FAILED: rasterunpack's decoding of $png differs from $ppm" >&2
    exit 1
  fi
done

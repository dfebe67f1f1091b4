#!/usr/bin/env bash
# rasterpack on images that take a narrower form, 4096 x 4096 each:
#   palette: a photograph-like image dithered to at most 252 colours, written
#            as an 8-bit palette PNG;
#   wide:    the photograph at maxval 65535 with every sample a byte copy,
#            written at depth 8.
# Against
#   - the palette floor: bench/palettefloor, which holds the indexed image in
#     memory and writes the same palette PNG with the same libpng defaults;
#     only its writing is timed (it reports that time itself);
#   - the RGB floor: bench/pngfloor writing the same pixels as 8-bit RGB from
#     memory (whole process);
#   - ImageMagick: convert in.ppm -quality 65 png:-
#   - libvips:     vips pngsave in.ppm out.png --compression 6 --filter all
# and bench/analysisbench, which times rasterpack's analysis passes alone.
# Each command runs $RUNS times (default 2), interleaved; the best wall time
# counts, and the best CPU time (user + system) is shown beside it, since on
# a shared machine the wall time also measures the other load.
# Targets: palette at most 1.5 x the palette floor and no slower than the RGB
# floor, faster than ImageMagick; the analyses at most 0.5 x the floor; peak
# memory at most 16 MB.
#   bench/rasterpack-palette.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
builddir=${1:-build/release}
runs=${RUNS:-2}
size=${SIZE:-4096}

for program in encoder/rasterpack bench/pngfloor bench/palettefloor bench/photogen bench/photovariant bench/analysisbench; do
  [ -x "$builddir/$program" ] || { scripts/setup.sh "$builddir" -DCMAKE_BUILD_TYPE=Release >/dev/null; break; }
done
rasterpack=$(realpath "$builddir/encoder/rasterpack")
pngfloor=$(realpath "$builddir/bench/pngfloor")
palettefloor=$(realpath "$builddir/bench/palettefloor")
analysis=$(realpath "$builddir/bench/analysisbench")
for tool in /usr/bin/convert vips /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool (ImageMagick, libvips-tools, time)"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$builddir/bench/photogen" "$size" "$size" > "$work/photo.ppm"
"$builddir/bench/photovariant" palette "$work/photo.ppm" > "$work/palette.ppm"
"$builddir/bench/photovariant" wide "$work/photo.ppm" > "$work/wide.ppm"
echo "inputs: $size x $size; palette.ppm $(wc -c < "$work/palette.ppm") bytes, wide.ppm $(wc -c < "$work/wide.ppm") bytes"

names=(palette-floor palette-rgbfloor palette-rasterpack palette-convert palette-vips
       wide-floor wide-rasterpack wide-convert wide-vips)
command_for() {
  case $1 in
    palette-floor) echo "'$palettefloor' '$work/palette.ppm' > '$work/$1.png' 2> '$work/$1.write'" ;;
    palette-rgbfloor) echo "'$pngfloor' '$work/palette.ppm' > '$work/$1.png'" ;;
    palette-rasterpack) echo "'$rasterpack' -quiet '$work/palette.ppm' > '$work/$1.png'" ;;
    palette-convert) echo "/usr/bin/convert '$work/palette.ppm' -quality 65 png:- > '$work/$1.png'" ;;
    palette-vips) echo "vips pngsave '$work/palette.ppm' '$work/$1.png' --compression 6 --filter all" ;;
    # the floor for the wide image writes the 8-bit pixels rasterpack writes
    wide-floor) echo "'$pngfloor' '$work/photo.ppm' > '$work/$1.png'" ;;
    wide-rasterpack) echo "'$rasterpack' '$work/wide.ppm' > '$work/$1.png'" ;;
    wide-convert) echo "/usr/bin/convert '$work/wide.ppm' -quality 65 png:- > '$work/$1.png'" ;;
    wide-vips) echo "vips pngsave '$work/wide.ppm' '$work/$1.png' --compression 6 --filter all" ;;
  esac
}

better() { awk -v a="$1" -v b="$2" 'BEGIN{exit !(a<b)}'; }
declare -A best cpu rss
note() {  # name wall cpu kb
  if [ -z "${best[$1]:-}" ] || better "$2" "${best[$1]}"; then best[$1]=$2; fi
  if [ -z "${cpu[$1]:-}" ] || better "$3" "${cpu[$1]}"; then cpu[$1]=$3; fi
  if [ -n "$4" ] && { [ -z "${rss[$1]:-}" ] || [ "$4" -gt "${rss[$1]}" ]; }; then rss[$1]=$4; fi
}
for round in $(seq "$runs"); do
  for name in "${names[@]}"; do
    /usr/bin/time -f "%e %U %S %M" -o "$work/t" bash -c "$(command_for "$name")" 2>/dev/null
    read -r secs user sys kb < "$work/t"
    note "$name" "$secs" "$(awk -v u="$user" -v s="$sys" 'BEGIN{ printf "%.2f", u + s }')" "$kb"
    if [ "$name" = palette-floor ]; then
      read -r _ wall used < "$work/$name.write"
      note palette-floor-write "$wall" "$used" ""
    fi
  done
  for input in palette wide; do
    "$analysis" "$work/$input.ppm" 2> "$work/a"
    read -r _ wall used < <(grep "^analyses " "$work/a")
    note "$input-analyses" "$wall" "$used" ""
  done
  echo "round $round of $runs done"
done

cmp -s "$work/palette-rasterpack.png" "$work/palette-floor.png" && echo "rasterpack's palette PNG is byte-identical to the floor's"
cmp -s "$work/wide-rasterpack.png" "$work/wide-floor.png" && echo "rasterpack's wide PNG is byte-identical to the RGB floor's"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.3f", a / b; else print "n/a" }'; }
row() {  # name floor-name
  local size="-"
  [ -f "$work/$1.png" ] && size=$(wc -c < "$work/$1.png")
  printf "%-22s %9s %9s %9s %9s %11s %11s\n" "$1" "${best[$1]}" "$(ratio "${best[$1]}" "${best[$2]}")" \
    "${cpu[$1]}" "$(ratio "${cpu[$1]}" "${cpu[$2]}")" "${rss[$1]:--}" "$size"
}
printf "%-22s %9s %9s %9s %9s %11s %11s\n" "" "wall (s)" "x floor" "cpu (s)" "x floor" "peak (kB)" "output (B)"
for name in palette-floor-write palette-floor palette-rgbfloor palette-rasterpack palette-analyses palette-convert palette-vips; do
  row "$name" palette-floor-write
done
for name in wide-floor wide-rasterpack wide-analyses wide-convert wide-vips; do row "$name" wide-floor; done
echo "(palette rows: x the palette floor's write from memory; wide rows: x the RGB floor)"
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"

status=0
check() {
  if [ "$2" = 1 ]; then echo "target met:    $1"; else echo "target MISSED: $1"; status=1; fi
}
le() { awk -v a="$1" -v b="$2" 'BEGIN{ print (a <= b) ? 1 : 0 }'; }
pr=palette-rasterpack
check "palette wall <= 1.5 x palette floor ($(ratio "${best[$pr]}" "${best[palette-floor-write]}"))" \
  "$(le "$(ratio "${best[$pr]}" "${best[palette-floor-write]}")" 1.5)"
check "palette no slower than the RGB floor (${best[$pr]} s vs ${best[palette-rgbfloor]} s)" \
  "$(le "${best[$pr]}" "${best[palette-rgbfloor]}")"
check "palette faster than convert (${best[$pr]} s vs ${best[palette-convert]} s)" \
  "$(le "${best[$pr]}" "${best[palette-convert]}")"
check "palette analyses <= 0.5 x palette floor ($(ratio "${best[palette-analyses]}" "${best[palette-floor-write]}"))" \
  "$(le "$(ratio "${best[palette-analyses]}" "${best[palette-floor-write]}")" 0.5)"
check "wide analyses <= 0.5 x RGB floor ($(ratio "${best[wide-analyses]}" "${best[wide-floor]}"))" \
  "$(le "$(ratio "${best[wide-analyses]}" "${best[wide-floor]}")" 0.5)"
check "peak memory <= 16 MB (palette ${rss[$pr]} kB, wide ${rss[wide-rasterpack]} kB)" \
  "$(le "$(( rss[$pr] > rss[wide-rasterpack] ? rss[$pr] : rss[wide-rasterpack] ))" 16384)"
exit $status

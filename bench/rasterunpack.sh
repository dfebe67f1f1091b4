#!/usr/bin/env bash
# rasterunpack on a 4096 x 4096 photograph-like RGB PNG, plain and Adam7
# interlaced (both written by rasterpack), against
#   - the floor: bench/pngdecodefloor, which decodes the PNG with the same
#     libpng into memory and writes the raw PPM;
#   - ImageMagick: convert in.png ppm:-
#   - libvips:     vips copy in.png out.ppm
# Each command runs $runs times, interleaved; the best wall time counts, and
# the best CPU time (user + system) is shown beside it, since on a shared
# machine the wall time also measures the other load. Peak memory comes from
# /usr/bin/time. Targets: rasterunpack at most 1.10 x the floor, faster than
# both peers, and peak memory at most the decoded image (48 MB) plus 16 MB.
#   bench/rasterunpack.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
builddir=${1:-build/release}
runs=${RUNS:-3}
size=4096

if [ ! -x "$builddir/decoder/rasterunpack" ] || [ ! -x "$builddir/bench/pngdecodefloor" ] ||
   [ ! -x "$builddir/bench/photogen" ] || [ ! -x "$builddir/encoder/rasterpack" ]; then
  scripts/setup.sh "$builddir" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
rasterunpack=$(realpath "$builddir/decoder/rasterunpack")
floor=$(realpath "$builddir/bench/pngdecodefloor")
for tool in /usr/bin/convert vips /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool: install imagemagick, libvips-tools and time" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$builddir/bench/photogen" $size $size > "$work/in.ppm"
"$builddir/encoder/rasterpack" "$work/in.ppm" > "$work/plain.png"
"$builddir/encoder/rasterpack" -interlace "$work/in.ppm" > "$work/interlaced.png"
decoded_kb=$(( $(wc -c < "$work/in.ppm") / 1024 ))
echo "input: $size x $size photograph-like RGB PNG, $(wc -c < "$work/plain.png") bytes plain," \
  "$(wc -c < "$work/interlaced.png") bytes interlaced; decoded $decoded_kb kB"

names=(floor rasterunpack convert vips)
command_for() {  # name png out
  case $1 in
    floor) echo "'$floor' '$2' > '$3'" ;;
    rasterunpack) echo "'$rasterunpack' '$2' > '$3'" ;;
    convert) echo "/usr/bin/convert '$2' ppm:- > '$3'" ;;
    vips) echo "vips copy '$2' '$3'" ;;
  esac
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.3f", a / b; else print "n/a" }'; }
le() { awk -v a="$1" -v b="$2" 'BEGIN{ print (a <= b) ? 1 : 0 }'; }
lt() { awk -v a="$1" -v b="$2" 'BEGIN{ print (a < b) ? 1 : 0 }'; }
status=0
check() {
  local what=$1 ok=$2
  if [ "$ok" = 1 ]; then echo "target met:    $what"; else echo "target MISSED: $what"; status=1; fi
}

for kind in plain interlaced; do
  png=$work/$kind.png
  declare -A best=() cpu=() rss=()
  for round in $(seq "$runs"); do
    for name in "${names[@]}"; do
      /usr/bin/time -f "%e %U %S %M" -o "$work/t" bash -c "$(command_for "$name" "$png" "$work/$name.ppm")" 2>/dev/null
      read -r secs user sys kb < "$work/t"
      used=$(awk -v u="$user" -v s="$sys" 'BEGIN{ printf "%.2f", u + s }')
      if [ -z "${cpu[$name]:-}" ] || awk -v a="$used" -v b="${cpu[$name]}" 'BEGIN{exit !(a<b)}'; then cpu[$name]=$used; fi
      if [ -z "${best[$name]:-}" ] || awk -v a="$secs" -v b="${best[$name]}" 'BEGIN{exit !(a<b)}'; then best[$name]=$secs; fi
      if [ -z "${rss[$name]:-}" ] || [ "$kb" -gt "${rss[$name]}" ]; then rss[$name]=$kb; fi
    done
  done
  echo "== $kind PNG ($runs rounds)"
  cmp -s "$work/rasterunpack.ppm" "$work/in.ppm" && echo "rasterunpack gives back the original PPM byte for byte" ||
    { echo "WARNING: rasterunpack's output differs from the original PPM"; status=1; }
  cmp -s "$work/rasterunpack.ppm" "$work/floor.ppm" || echo "WARNING: rasterunpack's output differs from the floor's"
  printf "%-14s %9s %9s %9s %9s %12s\n" "" "wall (s)" "x floor" "cpu (s)" "x floor" "peak (kB)"
  for name in "${names[@]}"; do
    printf "%-14s %9s %9s %9s %9s %12s\n" "$name" "${best[$name]}" "$(ratio "${best[$name]}" "${best[floor]}")" \
      "${cpu[$name]}" "$(ratio "${cpu[$name]}" "${cpu[floor]}")" "${rss[$name]}"
  done
  check "$kind: wall <= 1.10 x floor ($(ratio "${best[rasterunpack]}" "${best[floor]}"))" \
    "$(le "$(ratio "${best[rasterunpack]}" "${best[floor]}")" 1.10)"
  check "$kind: faster than convert (${best[rasterunpack]} s vs ${best[convert]} s)" \
    "$(lt "${best[rasterunpack]}" "${best[convert]}")"
  check "$kind: faster than vips (${best[rasterunpack]} s vs ${best[vips]} s)" \
    "$(lt "${best[rasterunpack]}" "${best[vips]}")"
  check "$kind: peak memory <= decoded size + 16 MB (${rss[rasterunpack]} kB vs $((decoded_kb + 16384)) kB)" \
    "$(le "${rss[rasterunpack]}" "$((decoded_kb + 16384))")"
  unset best cpu rss
done
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
exit $status

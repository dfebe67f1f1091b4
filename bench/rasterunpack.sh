#!/usr/bin/env bash
# rasterunpack against the floor, bench/pngdecodefloor, which decodes the PNG
# with the same libpng into memory and writes the raw PNM with one fwrite a
# row: the least any PNG-to-PNM decoder built on libpng can take.
#  1. Four 4096 x 4096 PNGs written by rasterpack: three RGB wallpapers from
#     Debian's gnome-backgrounds (a photograph, a smooth render and pixel art,
#     turned into PPM with vips) and the photograph in 8-bit grey. Targets:
#     CPU time (user + system) at most 1.03 x the floor's, peak memory at most
#     the decoded image plus 16 MB.
#  2. bench/photogen's 4096 x 4096 photograph-like RGB image, plain and Adam7
#     interlaced, also against ImageMagick (convert in.png ppm:-) and libvips
#     (vips copy in.png out.ppm). Targets: wall time at most 1.10 x the
#     floor's, faster than both peers, the same peak memory bound.
# Each command runs $RUNS times (default 5), interleaved (bench/timerun.py);
# the best wall and CPU times count, and the largest peak memory. On a shared
# machine the wall time also measures the other load; the CPU time much less.
# RASTERUNPACK=path times another build's program against the same floor.
#   bench/rasterunpack.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
builddir=${1:-build/release}
runs=${RUNS:-5}
backgrounds=${BACKGROUNDS:-/usr/share/backgrounds/gnome}
size=4096

if [ ! -x "$builddir/decoder/rasterunpack" ] || [ ! -x "$builddir/bench/pngdecodefloor" ] ||
   [ ! -x "$builddir/bench/photogen" ] || [ ! -x "$builddir/encoder/rasterpack" ]; then
  scripts/setup.sh "$builddir" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
rasterunpack=$(realpath "${RASTERUNPACK:-$builddir/decoder/rasterunpack}")
rasterpack=$(realpath "$builddir/encoder/rasterpack")
floor=$(realpath "$builddir/bench/pngdecodefloor")
timerun=$(realpath bench/timerun.py)
for tool in /usr/bin/convert vips python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool: install imagemagick, libvips-tools and python3" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name:source:vips command making its PNM
wallpapers=(wood:wood-d.webp:copy adwaita:adwaita-l.webp:copy pixelart:pixels-l.webp:copy
            wood-grey:wood-d.webp:grey)
for w in "${wallpapers[@]}"; do
  IFS=: read -r name file how <<< "$w"
  [ -f "$backgrounds/$file" ] || { echo "missing $backgrounds/$file (Debian package gnome-backgrounds)" >&2; exit 1; }
  if [ "$how" = grey ]; then
    vips colourspace "$backgrounds/$file" "$work/$name.pgm" b-w
    "$rasterpack" "$work/$name.pgm" > "$work/$name.png" 2>/dev/null
  else
    vips copy "$backgrounds/$file" "$work/$name.ppm"
    "$rasterpack" "$work/$name.ppm" > "$work/$name.png" 2>/dev/null
  fi
done
"$builddir/bench/photogen" $size $size > "$work/photo.ppm"
"$rasterpack" "$work/photo.ppm" > "$work/photo.png"
"$rasterpack" -interlace "$work/photo.ppm" > "$work/photo-interlaced.png"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.3f", a / b; else print "n/a" }'; }
le() { awk -v a="$1" -v b="$2" 'BEGIN{ print (a <= b) ? 1 : 0 }'; }
lt() { awk -v a="$1" -v b="$2" 'BEGIN{ print (a < b) ? 1 : 0 }'; }
status=0
check() {
  local what=$1 ok=$2
  if [ "$ok" = 1 ]; then echo "target met:    $what"; else echo "target MISSED: $what"; status=1; fi
}

# measure PNG NAME...: times the named commands on PNG; fills wall, cpu, rss.
declare -A wall=() cpu=() rss=()
results=()
command_for() {  # name png out
  case $1 in
    floor) echo "'$floor' '$2' > '$3'" ;;
    rasterunpack) echo "'$rasterunpack' '$2' > '$3'" ;;
    convert) echo "/usr/bin/convert '$2' ppm:- > '$3'" ;;
    vips) echo "vips copy '$2' '$3'" ;;
  esac
}
measure() {
  local png=$1 program w c r
  shift
  local args=()
  for program in "$@"; do args+=("$program" "$(command_for "$program" "$png" "$work/$program.pnm")"); done
  while read -r program w c r; do wall[$program]=$w cpu[$program]=$c rss[$program]=$r; done < <(python3 "$timerun" "$runs" "${args[@]}")
  cmp -s "$work/rasterunpack.pnm" "$work/floor.pnm" ||
    { echo "WARNING: rasterunpack's output differs from the floor's on $(basename "$png")"; status=1; }
}
decoded_kb() { echo $(( $(wc -c < "$work/floor.pnm") / 1024 )); }
row() {  # label name
  printf "%-14s %-13s %9s %8s %9s %8s %11s\n" "$1" "$2" "${wall[$2]}" "$(ratio "${wall[$2]}" "${wall[floor]}")" \
    "${cpu[$2]}" "$(ratio "${cpu[$2]}" "${cpu[floor]}")" "${rss[$2]}"
}
header() { printf "%-14s %-13s %9s %8s %9s %8s %11s\n" image program "wall (s)" "x floor" "cpu (s)" "x floor" "peak (kB)"; }

echo "== 1. rasterunpack against the floor ($runs rounds)"
header
for w in "${wallpapers[@]}"; do
  name=${w%%:*}
  measure "$work/$name.png" floor rasterunpack
  row "$name" floor
  row "$name" rasterunpack
  r=$(ratio "${cpu[rasterunpack]}" "${cpu[floor]}") limit=$(( $(decoded_kb) + 16384 ))
  results+=("$name: cpu <= 1.03 x floor ($r):$(le "$r" 1.03)"
            "$name: peak memory <= decoded size + 16 MB (${rss[rasterunpack]} kB vs $limit kB):$(le "${rss[rasterunpack]}" "$limit")")
done

echo "== 2. photograph-like image, plain and interlaced, with peers ($runs rounds)"
header
for kind in photo photo-interlaced; do
  measure "$work/$kind.png" floor rasterunpack convert vips
  for name in floor rasterunpack convert vips; do row "$kind" "$name"; done
  cmp -s "$work/rasterunpack.pnm" "$work/photo.ppm" ||
    { echo "WARNING: rasterunpack does not give back the original PPM of $kind"; status=1; }
  r=$(ratio "${wall[rasterunpack]}" "${wall[floor]}") limit=$(( $(decoded_kb) + 16384 ))
  results+=("$kind: wall <= 1.10 x floor ($r):$(le "$r" 1.10)"
            "$kind: faster than convert (${wall[rasterunpack]} s vs ${wall[convert]} s):$(lt "${wall[rasterunpack]}" "${wall[convert]}")"
            "$kind: faster than vips (${wall[rasterunpack]} s vs ${wall[vips]} s):$(lt "${wall[rasterunpack]}" "${wall[vips]}")"
            "$kind: peak memory <= decoded size + 16 MB (${rss[rasterunpack]} kB vs $limit kB):$(le "${rss[rasterunpack]}" "$limit")")
done
for result in "${results[@]}"; do check "${result%:*}" "${result##*:}"; done
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
exit $status

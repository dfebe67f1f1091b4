#!/usr/bin/env bash
# huecut against ImageMagick on a 2048 x 2048 photograph-like PPM, reduced to
# 256 colours without and with Floyd-Steinberg dithering: wall time (best of
# a few runs), peak memory of ours, and the PSNR of every output against the
# input. Targets: at most half of ImageMagick's time in both modes, and peak
# memory of at most 16 bytes per pixel plus 32 MB.
#   bench/huecut.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
builddir=${1:-build/release}
runs=3

if [ ! -x "$builddir/quantizer/huecut" ] || [ ! -x "$builddir/bench/photogen" ] || [ ! -x "$builddir/bench/psnr" ]; then
  scripts/setup.sh "$builddir" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
huecut=$builddir/quantizer/huecut

install_package() {
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" >/dev/null
  else
    sudo apt-get update -q >/dev/null && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" >/dev/null
  fi
}
# The real ImageMagick lives in /usr/bin; a convert earlier on PATH may be something else.
convert=/usr/bin/convert
[ -x $convert ] || install_package imagemagick
[ -x /usr/bin/time ] || install_package time

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
in=$work/in.ppm
size=2048
"$builddir/bench/photogen" $size $size > "$in"
pixels=$((size * size))
echo "input: ${size} x ${size} photograph-like PPM, $(wc -c < "$in") bytes"

# Best wall time in seconds over $runs runs; the last run's output stays in $2
# and its peak resident memory (kB) in $work/rss.
best_time() {
  local out=$1; shift
  local best=""
  for _ in $(seq $runs); do
    /usr/bin/time -f "%e %M" -o "$work/t" "$@" > "$out" 2>/dev/null
    read -r secs kb < "$work/t"
    echo "$kb" > "$work/rss"
    if [ -z "$best" ] || awk -v a="$secs" -v b="$best" 'BEGIN{exit !(a<b)}'; then best=$secs; fi
  done
  echo "$best"
}

limit_kb=$(( (16 * pixels + 32 * 1024 * 1024) / 1024 ))
status=0
report() {
  local mode=$1 ours=$2 theirs=$3 rss=$4 psnr_ours=$5 psnr_theirs=$6
  local ratio
  ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "n/a" }')
  local time_ok mem_ok
  time_ok=$(awk -v r="$ratio" 'BEGIN{ print (r != "n/a" && r <= 0.5) ? "met" : "MISSED" }')
  mem_ok=$([ "$rss" -le "$limit_kb" ] && echo met || echo MISSED)
  printf "%-10s huecut %6.2fs  convert %6.2fs  ratio %s (target <= 0.50: %s)\n" "$mode" "$ours" "$theirs" "$ratio" "$time_ok"
  printf "%-10s huecut peak memory %d kB (limit %d kB: %s)\n" "$mode" "$rss" "$limit_kb" "$mem_ok"
  printf "%-10s PSNR against the input: huecut %s dB, convert %s dB\n" "$mode" "$psnr_ours" "$psnr_theirs"
  [ "$time_ok" = met ] && [ "$mem_ok" = met ] || status=1
}

ours=$(best_time "$work/ours-plain.ppm" "$huecut" 256 "$in"); rss=$(cat "$work/rss")
theirs=$(best_time "$work/im-plain.ppm" $convert "$in" +dither -colors 256 ppm:-)
report "plain" "$ours" "$theirs" "$rss" \
  "$("$builddir/bench/psnr" "$in" "$work/ours-plain.ppm")" "$("$builddir/bench/psnr" "$in" "$work/im-plain.ppm")"

ours=$(best_time "$work/ours-fs.ppm" "$huecut" -floyd -randomseed 1 256 "$in"); rss=$(cat "$work/rss")
theirs=$(best_time "$work/im-fs.ppm" $convert "$in" -dither FloydSteinberg -colors 256 ppm:-)
report "dithered" "$ours" "$theirs" "$rss" \
  "$("$builddir/bench/psnr" "$in" "$work/ours-fs.ppm")" "$("$builddir/bench/psnr" "$in" "$work/im-fs.ppm")"

exit $status

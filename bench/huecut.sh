#!/usr/bin/env bash
# huecut against ImageMagick, in two parts:
#  1. Speed on a 2048 x 2048 photograph-like PPM reduced to 256 colours,
#     without and with Floyd-Steinberg dithering: time, peak memory of ours,
#     PSNR against the input. Targets: plain at most 0.50 of ImageMagick's
#     time, dithered at most 0.30; peak memory at most 16 bytes per pixel
#     plus 32 MB.
#  2. Quality of `huecut -refine 10 256` against `convert +dither -colors 256`
#     on three 1024 x 1024 crops of the desktop backgrounds (a photograph, a
#     smooth render, pixel art; converted with vips) and the 2048 x 2048
#     image. Targets: PSNR at least 1 dB above ImageMagick's on every image,
#     in at most 0.50 of its time. The PSNR after 1, 3 and 30 passes is
#     shown beside it.
# Times are the best of a few runs: wall clock and CPU (user + system). On a
# shared machine trust the CPU figures; the ratios use CPU time.
#   bench/huecut.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
builddir=${1:-build/release}
runs=3

if [ ! -x "$builddir/quantizer/huecut" ] || [ ! -x "$builddir/bench/photogen" ] || [ ! -x "$builddir/bench/psnr" ]; then
  scripts/setup.sh "$builddir" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
huecut=$builddir/quantizer/huecut
psnr=$builddir/bench/psnr

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
in=$work/photogen.ppm
size=2048
"$builddir/bench/photogen" $size $size > "$in"
pixels=$((size * size))
echo "load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
echo "input: ${size} x ${size} photograph-like PPM, $(wc -c < "$in") bytes"

# Runs the command $runs times with its output in $1; sets wall and cpu to
# the best wall-clock and CPU seconds, rss to the last run's peak memory (kB).
timed() {
  local out=$1; shift
  wall="" cpu=""
  for _ in $(seq $runs); do
    /usr/bin/time -f "%e %U %S %M" -o "$work/t" "$@" > "$out" 2>/dev/null
    read -r secs user sys kb < "$work/t"
    local c
    c=$(awk -v u="$user" -v s="$sys" 'BEGIN{printf "%.2f", u + s}')
    rss=$kb
    if [ -z "$wall" ] || awk -v a="$secs" -v b="$wall" 'BEGIN{exit !(a<b)}'; then wall=$secs; fi
    if [ -z "$cpu" ] || awk -v a="$c" -v b="$cpu" 'BEGIN{exit !(a<b)}'; then cpu=$c; fi
  done
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN{ print (r != "n/a" && r <= t) ? "met" : "MISSED" }'; }

limit_kb=$(( (16 * pixels + 32 * 1024 * 1024) / 1024 ))
status=0

echo
echo "== speed, 256 colours"
speed() {
  local mode=$1 target=$2; shift 2
  local ours_args=("$@")
  timed "$work/ours-$mode.ppm" "$huecut" "${ours_args[@]}" "$in"
  local ours_wall=$wall ours_cpu=$cpu ours_rss=$rss
  if [ "$mode" = plain ]; then
    timed "$work/im-$mode.ppm" $convert "$in" +dither -colors 256 ppm:-
  else
    timed "$work/im-$mode.ppm" $convert "$in" -dither FloydSteinberg -colors 256 ppm:-
  fi
  local r mem_ok
  r=$(ratio "$ours_cpu" "$cpu")
  mem_ok=$([ "$ours_rss" -le "$limit_kb" ] && echo met || echo MISSED)
  printf "%-9s huecut %5.2fs wall %5.2fs cpu   convert %5.2fs wall %5.2fs cpu   cpu ratio %s (target <= %s: %s)\n" \
    "$mode" "$ours_wall" "$ours_cpu" "$wall" "$cpu" "$r" "$target" "$(verdict "$r" "$target")"
  printf "%-9s huecut peak memory %d kB (limit %d kB: %s); PSNR huecut %s dB, convert %s dB\n" "$mode" \
    "$ours_rss" "$limit_kb" "$mem_ok" "$("$psnr" "$in" "$work/ours-$mode.ppm")" "$("$psnr" "$in" "$work/im-$mode.ppm")"
  [ "$(verdict "$r" "$target")" = met ] && [ "$mem_ok" = met ] || status=1
}
speed plain 0.50 256
speed dithered 0.30 -floyd -randomseed 1 256

echo
echo "== quality: huecut -refine 10 256 against convert +dither -colors 256"
images=()
backgrounds=/usr/share/backgrounds/gnome
if command -v vips >/dev/null && [ -d $backgrounds ]; then
  for pair in photo:wood-l smooth:adwaita-l pixelart:pixels-l; do
    name=${pair%%:*} file=$backgrounds/${pair#*:}.webp
    [ -f "$file" ] || continue
    vips crop "$file" "$work/$name.ppm" 1536 1536 1024 1024
    images+=("$name")
  done
else
  echo "(no vips or no $backgrounds: the 1024 x 1024 crops are left out)"
fi
cp "$in" "$work/photo2048.ppm"
images+=(photo2048)

printf "%-10s %8s %8s %8s %8s %9s %9s %8s %8s %6s %s\n" image "-r 1" "-r 3" "-r 10" "-r 30" convert gain \
  "ours s" "conv s" ratio verdict
for name in "${images[@]}"; do
  img=$work/$name.ppm
  declare -A p=()
  for n in 1 3 30; do
    "$huecut" -quiet -refine $n 256 "$img" > "$work/r.ppm"
    p[$n]=$("$psnr" "$img" "$work/r.ppm")
  done
  timed "$work/r10.ppm" "$huecut" -refine 10 256 "$img"
  ours_cpu=$cpu ours_wall=$wall
  p[10]=$("$psnr" "$img" "$work/r10.ppm")
  timed "$work/im.ppm" $convert "$img" +dither -colors 256 ppm:-
  theirs=$("$psnr" "$img" "$work/im.ppm")
  gain=$(awk -v a="${p[10]}" -v b="$theirs" 'BEGIN{printf "%+.2f", a - b}')
  r=$(ratio "$ours_cpu" "$cpu")
  ok=$(awk -v g="$gain" -v r="$r" 'BEGIN{ print (g >= 1 && r != "n/a" && r <= 0.5) ? "met" : "MISSED" }')
  printf "%-10s %8s %8s %8s %8s %9s %9s %8s %8s %6s %s (wall %ss / %ss)\n" "$name" "${p[1]}" "${p[3]}" "${p[10]}" \
    "${p[30]}" "$theirs" "$gain" "$ours_cpu" "$cpu" "$r" "$ok" "$ours_wall" "$wall"
  [ "$ok" = met ] || status=1
  unset p
done
echo "(PSNR in dB against the input; times are CPU seconds, best of $runs)"

exit $status

#!/usr/bin/env bash
# rasterpack -threads and -optimize on three 4096 x 4096 wallpapers (a
# photograph, a smooth render and a pixel-art image from Debian's
# gnome-backgrounds, turned into PPM with vips) and a 1024 x 1024 crop of each.
#  1. -threads 2 against the one-thread floor (bench/pngfloor: libpng alone,
#     image in memory, default settings). Targets: wall at most 0.60 x the
#     floor's, output at most 0.5 % larger than rasterpack's one-thread output.
#  2. -optimize -threads 2 against optipng -o2 run on rasterpack's default
#     output (only optipng's own time counts). Targets: output no larger than
#     optipng's on every image, wall time below optipng's. optipng -o5 and
#     zopflipng sizes beside it; these two are slow, so by default they run on
#     the crops only (SLOW_PEERS_ON_FULL=1 adds the full-size images).
# Each command runs $RUNS times (default 1); the best wall and CPU (user +
# system) times count. On a shared machine the wall time also measures the
# other load: the load average is printed at the end.
#   bench/rasterpack-threads.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
builddir=${1:-build/release}
runs=${RUNS:-1}
threads=${THREADS:-2}
backgrounds=${BACKGROUNDS:-/usr/share/backgrounds/gnome}

if [ ! -x "$builddir/encoder/rasterpack" ] || [ ! -x "$builddir/bench/pngfloor" ]; then
  scripts/setup.sh "$builddir" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
rasterpack=$(realpath "$builddir/encoder/rasterpack")
floor=$(realpath "$builddir/bench/pngfloor")
for tool in vips optipng zopflipng /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "needs $tool (Debian: libvips-tools, optipng, zopfli, time)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name:file of the photograph, the smooth render and the pixel art
sources=(photo:wood-d.webp render:adwaita-l.webp pixelart:pixels-l.webp)
images=()
for s in "${sources[@]}"; do
  name=${s%%:*} file=$backgrounds/${s#*:}
  [ -f "$file" ] || { echo "missing $file (Debian package gnome-backgrounds)" >&2; exit 1; }
  vips copy "$file" "$work/$name.ppm"
  vips crop "$file" "$work/$name-crop.ppm" 1536 1536 1024 1024
  images+=("$name" "$name-crop")
done

# timed NAME COMMAND...: runs the command $runs times; sets wall and cpu to the best.
timed() {
  local best_wall="" best_cpu=""
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e %U %S" -o "$work/t" bash -c "$1" 2>/dev/null
    read -r secs user sys < "$work/t"
    local used
    used=$(awk -v u="$user" -v s="$sys" 'BEGIN{ printf "%.2f", u + s }')
    if [ -z "$best_wall" ] || awk -v a="$secs" -v b="$best_wall" 'BEGIN{exit !(a<b)}'; then best_wall=$secs; fi
    if [ -z "$best_cpu" ] || awk -v a="$used" -v b="$best_cpu" 'BEGIN{exit !(a<b)}'; then best_cpu=$used; fi
  done
  wall=$best_wall cpu=$best_cpu
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.3f", a / b; else print "n/a" }'; }
growth() { awk -v a="$1" -v b="$2" 'BEGIN{ printf "%+.3f%%", (a - b) * 100 / b }'; }
size() { wc -c < "$1"; }

status=0
missed() { echo "target MISSED: $1"; status=1; }

echo "== 1. -threads $threads against the one-thread floor"
printf "%-14s %8s %8s %8s %8s %8s %8s %8s %11s %11s %9s\n" image "floor s" "cpu s" "1thr s" "cpu s" \
  "${threads}thr s" "cpu s" "x floor" "1thr B" "${threads}thr B" growth
for img in "${images[@]}"; do
  in=$work/$img.ppm
  timed "'$floor' '$in' > '$work/floor.png'"; fw=$wall fc=$cpu
  timed "'$rasterpack' '$in' > '$work/one.png'"; ow=$wall oc=$cpu
  timed "'$rasterpack' -threads $threads '$in' > '$work/many.png'"; mw=$wall mc=$cpu
  r=$(ratio "$mw" "$fw") g=$(growth "$(size "$work/many.png")" "$(size "$work/one.png")")
  printf "%-14s %8s %8s %8s %8s %8s %8s %8s %11s %11s %9s\n" "$img" "$fw" "$fc" "$ow" "$oc" "$mw" "$mc" "$r" \
    "$(size "$work/one.png")" "$(size "$work/many.png")" "$g"
  awk -v r="$r" 'BEGIN{exit !(r > 0.60)}' && missed "$img: -threads $threads wall $r x floor (target <= 0.60)"
  awk -v a="$(size "$work/many.png")" -v b="$(size "$work/one.png")" 'BEGIN{exit !(a > b * 1.005)}' &&
    missed "$img: -threads $threads output $g against one thread (target <= +0.5%)"
  cp "$work/one.png" "$work/$img-default.png"
done

echo
echo "== 2. -optimize -threads $threads against optipng -o2 on rasterpack's default output"
printf "%-14s %9s %8s %8s %9s %8s %8s %11s %11s %11s %11s\n" image "optim s" "cpu s" "" "optipng s" "cpu s" \
  "x optipng" "optimize B" "optipng2 B" "optipng5 B" "zopfli B"
for img in "${images[@]}"; do
  in=$work/$img.ppm
  timed "'$rasterpack' -optimize -threads $threads '$in' > '$work/opt.png'"; pw=$wall pc=$cpu
  cp "$work/$img-default.png" "$work/o2.png"
  timed "cp '$work/$img-default.png' '$work/o2.png' && optipng -quiet -o2 '$work/o2.png'"; qw=$wall qc=$cpu
  o5=- zo=-
  if [[ $img == *-crop ]] || [ "${SLOW_PEERS_ON_FULL:-0}" = 1 ]; then
    cp "$work/$img-default.png" "$work/o5.png" && optipng -quiet -o5 "$work/o5.png" && o5=$(size "$work/o5.png")
    zopflipng -y --lossy_transparent=0 "$work/$img-default.png" "$work/z.png" >/dev/null 2>&1 && zo=$(size "$work/z.png")
  fi
  printf "%-14s %9s %8s %8s %9s %8s %8s %11s %11s %11s %11s\n" "$img" "$pw" "$pc" "" "$qw" "$qc" \
    "$(ratio "$pw" "$qw")" "$(size "$work/opt.png")" "$(size "$work/o2.png")" "$o5" "$zo"
  [ "$(size "$work/opt.png")" -le "$(size "$work/o2.png")" ] ||
    missed "$img: -optimize output $(size "$work/opt.png") B > optipng -o2's $(size "$work/o2.png") B"
  awk -v a="$pw" -v b="$qw" 'BEGIN{exit !(a >= b)}' && missed "$img: -optimize wall $pw s >= optipng -o2's $qw s"
done
echo
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
[ $status -eq 0 ] && echo "every target met"
exit $status

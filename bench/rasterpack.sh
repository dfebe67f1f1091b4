#!/usr/bin/env bash
# rasterpack at its default settings on a 4096 x 4096 photograph-like RGB PPM,
# from a file and from a pipe, against
#   - the floor: bench/pngfloor, which holds the image in memory and writes it
#     with the same libpng at the same (default) filter and compression choices;
#   - ImageMagick: convert in.ppm -quality 65 png:-
#   - libvips:     vips pngsave in.ppm out.png --compression 6 --filter all
# Each command runs $runs times, interleaved; the best wall time counts, and
# the best CPU time (user + system) is shown beside it, since on a shared
# machine the wall time also measures the other load. Peak memory comes from
# /usr/bin/time. Targets: rasterpack at most 1.05 x the floor
# from a file and 1.15 x from a pipe, faster than both peers, and at most 16 MB
# of peak memory.
#   bench/rasterpack.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
builddir=${1:-build/release}
runs=${RUNS:-3}
size=4096

if [ ! -x "$builddir/encoder/rasterpack" ] || [ ! -x "$builddir/bench/pngfloor" ] || [ ! -x "$builddir/bench/photogen" ]; then
  scripts/setup.sh "$builddir" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
rasterpack=$(realpath "$builddir/encoder/rasterpack")
floor=$(realpath "$builddir/bench/pngfloor")

install_package() {
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" >/dev/null
  else
    sudo apt-get update -q >/dev/null && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" >/dev/null
  fi
}
# The real ImageMagick lives in /usr/bin; a convert earlier on PATH may be something else.
[ -x /usr/bin/convert ] || install_package imagemagick
command -v vips >/dev/null || install_package libvips-tools
[ -x /usr/bin/time ] || install_package time

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
in=$work/in.ppm
"$builddir/bench/photogen" $size $size > "$in"
echo "input: $size x $size photograph-like RGB PPM, $(wc -c < "$in") bytes"

names=(floor rasterpack rasterpack-pipe convert vips)
command_for() {
  case $1 in
    floor) echo "'$floor' '$in' > '$work/floor.png'" ;;
    rasterpack) echo "'$rasterpack' '$in' > '$work/rasterpack.png'" ;;
    rasterpack-pipe) echo "cat '$in' | '$rasterpack' > '$work/rasterpack-pipe.png'" ;;
    convert) echo "/usr/bin/convert '$in' -quality 65 png:- > '$work/convert.png'" ;;
    vips) echo "vips pngsave '$in' '$work/vips.png' --compression 6 --filter all" ;;
  esac
}

declare -A best cpu rss
for round in $(seq "$runs"); do
  for name in "${names[@]}"; do
    /usr/bin/time -f "%e %U %S %M" -o "$work/t" bash -c "$(command_for "$name")" 2>/dev/null
    read -r secs user sys kb < "$work/t"
    used=$(awk -v u="$user" -v s="$sys" 'BEGIN{ printf "%.2f", u + s }')
    if [ -z "${cpu[$name]:-}" ] || awk -v a="$used" -v b="${cpu[$name]}" 'BEGIN{exit !(a<b)}'; then
      cpu[$name]=$used
    fi
    if [ -z "${best[$name]:-}" ] || awk -v a="$secs" -v b="${best[$name]}" 'BEGIN{exit !(a<b)}'; then
      best[$name]=$secs
    fi
    if [ -z "${rss[$name]:-}" ] || [ "$kb" -gt "${rss[$name]}" ]; then rss[$name]=$kb; fi
  done
  echo "round $round of $runs done"
done

cmp -s "$work/rasterpack.png" "$work/rasterpack-pipe.png" || echo "WARNING: file and pipe outputs differ"
cmp -s "$work/rasterpack.png" "$work/floor.png" && echo "rasterpack's output is byte-identical to the floor's"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.3f", a / b; else print "n/a" }'; }
printf "%-16s %9s %9s %9s %9s %12s %12s\n" "" "wall (s)" "x floor" "cpu (s)" "x floor" "peak (kB)" "output (B)"
for name in "${names[@]}"; do
  printf "%-16s %9s %9s %9s %9s %12s %12s\n" "$name" "${best[$name]}" "$(ratio "${best[$name]}" "${best[floor]}")" \
    "${cpu[$name]}" "$(ratio "${cpu[$name]}" "${cpu[floor]}")" "${rss[$name]}" "$(wc -c < "$work/$name.png")"
done
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"

status=0
check() {
  local what=$1 ok=$2
  if [ "$ok" = 1 ]; then echo "target met:    $what"; else echo "target MISSED: $what"; status=1; fi
}
le() { awk -v a="$1" -v b="$2" 'BEGIN{ print (a <= b) ? 1 : 0 }'; }
lt() { awk -v a="$1" -v b="$2" 'BEGIN{ print (a < b) ? 1 : 0 }'; }
check "file wall <= 1.05 x floor ($(ratio "${best[rasterpack]}" "${best[floor]}"))" \
  "$(le "$(ratio "${best[rasterpack]}" "${best[floor]}")" 1.05)"
check "pipe wall <= 1.15 x floor ($(ratio "${best[rasterpack-pipe]}" "${best[floor]}"))" \
  "$(le "$(ratio "${best[rasterpack-pipe]}" "${best[floor]}")" 1.15)"
check "faster than convert (${best[rasterpack]} s vs ${best[convert]} s)" "$(lt "${best[rasterpack]}" "${best[convert]}")"
check "faster than vips (${best[rasterpack]} s vs ${best[vips]} s)" "$(lt "${best[rasterpack]}" "${best[vips]}")"
check "peak memory <= 16 MB (file ${rss[rasterpack]} kB, pipe ${rss[rasterpack-pipe]} kB)" \
  "$(le "$(( rss[rasterpack] > rss[rasterpack-pipe] ? rss[rasterpack] : rss[rasterpack-pipe] ))" 16384)"
exit $status

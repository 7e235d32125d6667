#!/usr/bin/env bash
# Builds a local corpus for round trips and benchmarks in corpus-local/ (not
# committed) from the public-domain and CC0 pictures that Debian's
# python3-skimage package ships. The package is downloaded and unpacked, not
# installed.
#
#   corpus-local/pictures/NAME.png   8-bit grey or colour pictures
#   corpus-local/pictures/NAME-12bit.pgm, NAME-16bit.pgm   deep grey variants
#   corpus-local/streams/NAME-MODE.zr   when zrenc is built (ZRENC=path, or
#                                       build/tools/zrenc); ZR_STEP sets --step
#
# Needs apt-get and dpkg-deb, djpeg (libjpeg-turbo-progs) and the netpbm tools.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${ZR_CORPUS_DIR:-$root/corpus-local}
zrenc=${ZRENC:-$root/build/tools/zrenc}
step=${ZR_STEP:-8}

for tool in apt-get dpkg-deb djpeg pngtopnm pnmtopng pamdepth; do
  if ! command -v "$tool" >/dev/null; then
    echo "make-corpus: $tool is missing; install with: apt-get install -y libjpeg-turbo-progs netpbm" >&2
    exit 1
  fi
done

mkdir -p "$out/pictures" "$out/streams" "$out/.package"
cd "$out/.package"
if ! ls python3-skimage_*.deb >/dev/null 2>&1; then
  apt-get download python3-skimage
fi
rm -rf unpacked
dpkg-deb -x python3-skimage_*.deb unpacked
data=$(find unpacked -type d -path '*skimage/data' -print -quit)
if [[ -z $data ]]; then
  echo "make-corpus: no skimage/data folder in the package" >&2
  exit 1
fi

# Pictures whose licence the package states as public domain or CC0.
png_names=(camera astronaut coffee chelsea coins moon page text brick grass gravel horse cell color
           motorcycle_left motorcycle_right ihc clock_motion microaneurysms)
jpg_names=(rocket retina hubble_deep_field)

count=0
for name in "${png_names[@]}"; do
  [[ -f $data/$name.png ]] || continue
  # Through netpbm so that palettes and alpha become plain grey or RGB.
  pngtopnm -mix "$data/$name.png" 2>/dev/null | pnmtopng >"$out/pictures/$name.png"
  count=$((count + 1))
done
for name in "${jpg_names[@]}"; do
  [[ -f $data/$name.jpg ]] || continue
  djpeg "$data/$name.jpg" | pnmtopng >"$out/pictures/$name.png"
  count=$((count + 1))
done
# Deep grey variants for the grey depths above 8 bits.
for name in camera moon; do
  pngtopnm "$out/pictures/$name.png" | pamdepth 4095 >"$out/pictures/$name-12bit.pgm"
  pngtopnm "$out/pictures/$name.png" | pamdepth 65535 >"$out/pictures/$name-16bit.pgm"
done
rm -rf "$out/.package/unpacked"
echo "make-corpus: $count pictures and 4 deep grey variants in $out/pictures"

if [[ ! -x $zrenc ]]; then
  echo "make-corpus: no zrenc at $zrenc; streams skipped (build it, or set ZRENC)"
  exit 0
fi
streams=0
for picture in "$out"/pictures/*; do
  name=$(basename "${picture%.*}")
  bits=()
  case $name in
    *-12bit) bits=(--bits 12) ;;
    *-16bit) bits=(--bits 16) ;;
  esac
  for mode in one-pass progressive; do
    if "$zrenc" --mode "$mode" --step "$step" "${bits[@]}" "$picture" "$out/streams/$name-$mode.zr" >/dev/null; then
      streams=$((streams + 1))
    else
      echo "make-corpus: zrenc failed on $name ($mode)" >&2
    fi
  done
done
echo "make-corpus: $streams streams (step $step) in $out/streams"

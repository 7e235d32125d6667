#!/usr/bin/env bash
# Regenerates the committed seed corpus under fuzz/corpus/:
#   fuzz_huffman, fuzz_context_model  written by entropy_seeds (the coders' encoders)
#   fuzz_decode, fuzz_decode_stream   samples/*.zr and zrenc output for every mode
#                                     and coder combination, behind the settings
#                                     bytes each target reads
#   fuzz_convert_frame                a few settings/size combinations
# Needs zrenc from a main build ($ZR_BUILD_DIR, default build/) and the fuzz
# build (fuzz/build.sh).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ZR_BUILD_DIR:-$root/build}
fuzzbuild=${ZR_FUZZ_BUILD_DIR:-$root/build-fuzz}
corpus=$root/fuzz/corpus
zrenc=$build/tools/zrenc
[[ -x $zrenc ]] || { echo "make_corpus: build zrenc first ($zrenc)" >&2; exit 1; }
"$root/fuzz/build.sh" entropy_seeds >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Small pictures with edges and texture, so that every level carries detail.
picture() { # kind(P5|P6) width height maxval file
  LC_ALL=C awk -v kind="$1" -v w="$2" -v h="$3" -v max="$4" 'BEGIN {
    printf "%s\n%d %d\n%d\n", kind, w, h, max
    n = (kind == "P6") ? 3 : 1
    for (y = 0; y < h; y++) for (x = 0; x < w; x++) for (c = 0; c < n; c++) {
      v = (x * 5 + y * 3 + c * 40) % 256
      if ((x > w / 3 && x < 2 * w / 3 && y > h / 4 && y < 3 * h / 4)) v = 255 - v
      if ((x * 7 + y * 11) % 13 == 0) v = (v + 128) % 256
      v = int(v * max / 255)
      if (max > 255) printf "%c%c", int(v / 256), v % 256; else printf "%c", v
    }
  }' > "$5"
}
picture P6 40 36 255 "$work/colour.ppm"
picture P5 44 38 255 "$work/grey.pgm"
picture P5 36 40 4095 "$work/deep.pgm"

rm -rf "$corpus/fuzz_decode" "$corpus/fuzz_decode_stream" "$corpus/fuzz_convert_frame"
mkdir -p "$corpus/fuzz_decode" "$corpus/fuzz_decode_stream" "$corpus/fuzz_convert_frame"
"$fuzzbuild/entropy_seeds" "$corpus"

count=0
# add NAME FILE: the stream behind each target's settings bytes, the decode
# options rotating through exactSteps, halfSize and sharpen.
add() {
  local settings=$((count % 8)) nested=$(( (count % 3 == 0) ? 16 : 0 ))
  local interval=$((6 + count % 5))
  { printf "\\x$(printf %02x $settings)"; cat "$2"; } > "$corpus/fuzz_decode/$1"
  { printf "\\x$(printf %02x $((settings | nested)))\\x$(printf %02x $interval)\\x$(printf %02x $count)\\x5a"
    cat "$2"; } > "$corpus/fuzz_decode_stream/$1"
  count=$((count + 1))
}
encode() { # name input zrenc-options...
  local name=$1 input=$2
  shift 2
  "$zrenc" "$@" "$input" "$work/$name.zr" >/dev/null 2>&1 || { echo "make_corpus: zrenc $* failed" >&2; exit 1; }
  add "$name" "$work/$name.zr"
}

for sample in "$root"/samples/*.zr; do
  add "sample-$(basename "$sample" .zr)" "$sample"
done
for map in 0 1 2 3; do
  for value in 0 1 2 3; do
    encode "onepass-m$map-v$value" "$work/colour.ppm" --mode one-pass --map-coder $map --value-coder $value --step 12
    if [[ ! ($map == 2 && $value == 0) ]]; then
      encode "progressive-m$map-v$value" "$work/colour.ppm" --mode progressive --map-coder $map --value-coder $value --step 12
    fi
  done
done
encode onepass-grey "$work/grey.pgm" --mode one-pass --map-coder 1 --value-coder 2 --step 6
encode progressive-grey "$work/grey.pgm" --mode progressive --map-coder 0 --value-coder 3 --step 6
encode onepass-deep "$work/deep.pgm" --mode one-pass --bits 12 --step 40
encode progressive-deep "$work/deep.pgm" --mode progressive --bits 16 --step 300
encode progressive-fine "$work/grey.pgm" --mode progressive --map-coder 1 --value-coder 1 --fine-steps 3 --step 16
encode onepass-boost-stretch "$work/grey.pgm" --mode one-pass --boost 4 --stretch 1 --step 8
encode progressive-trailer-sharpen "$work/colour.ppm" --mode progressive --trailer 1,2,3 --sharpen --step 10
encode onepass-sharpen "$work/colour.ppm" --mode one-pass --map-coder 2 --value-coder 1 --sharpen --step 10

# Hand-made headers at the edges of what the decoder accepts, each followed
# by a little coded data.
handmade() { # name header-bytes
  { printf "$2"; printf '\xa5\x5a\xff\x00\x81%.0s' {1..12}; } > "$work/$1.zr"
  add "$1" "$work/$1.zr"
}
handmade huge-refused '\x5a\x52\x02\xff\xff\xff\xff\x46\x10\xa8\x00'
handmade thin-colour  '\x5a\x52\x02\x00\x06\xff\xff\x46\x10\x08\x00'
handmade tall-deep    '\x5a\x52\x02\xff\xff\x00\x06\x82\x10\xb8\x00'
handmade smallest     '\x5a\x52\x02\x00\x06\x00\x06\x46\x10\xc8\x00'
handmade too-small    '\x5a\x52\x02\x00\x05\x00\x28\x42\x10\x28\x00'
handmade deep-stretch '\x5a\x52\x02\x00\x28\x00\x25\x62\x10\x93\x40'

# convertFrame: format/colour/depth byte, picture size, converted size, leftover memory.
convert() { printf "$2" > "$corpus/fuzz_convert_frame/$1"; }
convert colour-bitmap   '\x04\x00\x21\x00\x13\x00\x21\x00\x0a\x00\x00\x10\x80\xf0\x33'
convert grey-dither     '\x01\x00\x07\x00\x05\x00\x07\x00\x05\x00\x00\x00\xff\x40'
convert colour-dither   '\x05\x00\x10\x00\x10\x00\x08\x00\x08\x00\x10\x12\x34\x56\x78'
convert deep-raw        '\x22\x00\x09\x00\x0b\x00\x09\x00\x0b\x00\x00\xff\x0f\x00\x08'
convert deep-bitmap     '\x20\x00\x0d\x00\x03\x00\x0d\x00\x03\x00\x04\x01\x02'
convert small-leftover  '\x04\x00\x05\x00\x05\x00\x05\x00\x05\x00\x08\x7f'
du -sh "$corpus"/*

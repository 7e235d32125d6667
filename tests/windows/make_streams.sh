#!/usr/bin/env bash
# make_streams.sh LINUX_BUILD SOURCE_DIR OUT: the streams that the Windows
# checks decode, in OUT/streams: the committed samples and, made by the Linux
# zrenc from the decoded samples, streams of every mode and coder
# combination plus deep grey, fine-step, boost, stretch, trailer and
# sharpening variants.
set -euo pipefail
linux=$1 source=$2 out=$3
zrdec=$linux/tools/zrdec zrenc=$linux/tools/zrenc

rm -rf "$out/streams" "$out/pictures"
mkdir -p "$out/streams" "$out/pictures"
cp "$source"/samples/*.zr "$out/streams/"
"$zrdec" "$source/samples/camera-one-pass.zr" "$out/pictures/grey.pgm" >/dev/null
"$zrdec" "$source/samples/astronaut-progressive.zr" "$out/pictures/colour.ppm" >/dev/null

encode() { # NAME PICTURE OPTIONS...
    local name=$1 picture=$2
    shift 2
    # zrenc's notes about coder choices are expected; errors are shown.
    "$zrenc" "$@" "$out/pictures/$picture" "$out/streams/$name.zr" >/dev/null 2>"$out/zrenc.log" ||
        { cat "$out/zrenc.log" >&2; exit 1; }
}

for picture in grey.pgm colour.ppm; do
    name=${picture%.*}
    for map in 0 1 2 3; do
        for value in 0 1 2 3; do
            encode "$name-one-pass-m$map-v$value" $picture --mode one-pass --map-coder $map --value-coder $value
            # Progressive map coder 2 cannot carry value coder 0.
            [[ $map == 2 && $value == 0 ]] && continue
            encode "$name-progressive-m$map-v$value" $picture --map-coder $map --value-coder $value
        done
    done
done
encode grey-12bit grey.pgm --bits 12 --step 16
encode grey-16bit-one-pass grey.pgm --bits 16 --mode one-pass --step 300
encode grey-fine grey.pgm --fine-steps 2
encode colour-boost colour.ppm --boost 4
encode grey-stretch grey.pgm --stretch 2
encode colour-trailer colour.ppm --trailer 1,2,3
encode grey-sharpen grey.pgm --sharpen
encode colour-one-pass-sharpen colour.ppm --mode one-pass --sharpen
echo "$(ls "$out/streams" | wc -l) streams in $out/streams"

#!/usr/bin/env bash
# compare_zrdec.sh LINUX_BUILD ZRDEC_EXE WORK WINE_RUN...: runs the Linux zrdec
# and zrdec.exe (through the WINE_RUN command) with the same arguments: every
# stream in WORK/streams (make_streams.sh) to PGM/PPM, the samples and a few
# others also to BMP, raw, low-memory, exact, sharpened and partial pictures,
# and bad input. Output files, messages and exit codes must be identical. PNG
# output is left out: the Windows build has no libpng and refuses .png names.
# A Windows process starts slowly under Wine, so the option matrix is not run
# on every stream.
set -euo pipefail
linux=$1 exe=$2 work=$3
shift 3
wine_run=("$@")

rm -rf "$work/linux" "$work/windows"
mkdir -p "$work/linux" "$work/windows"
commands=()
add() { commands+=("$*"); }

add --help
add ../streams/missing.zr missing.ppm
add ../streams/../pictures/grey.pgm refused.pgm
add --bogus ../streams/gradient-progressive.zr bogus.ppm
add ../streams/gradient-progressive.zr unknown.gif
for stream in "$work"/streams/*.zr; do
    name=$(basename "$stream" .zr)
    in=../streams/$name.zr
    ext=pgm
    if "$linux/tools/zrdec" "$stream" "$work/linux/probe.ppm" >/dev/null 2>&1; then ext=ppm; fi
    add "$in" "$name.$ext"
    case $name in
        *-progressive | camera-one-pass | grey-1?bit* | colour-one-pass-m1-v0 | grey-progressive-m1-v2) ;;
        *) continue ;;
    esac
    add "$in" "$name.bmp"
    add --raw "$in" "$name.raw"
    add --half "$in" "$name-half.$ext"
    add --exact "$in" "$name-exact.$ext"
    add --sharpen "$in" "$name-sharpen.$ext"
    add --frames-every 3000 "$name-frames" --raw "$in" "$name-final.raw"
done
rm -f "$work/linux/probe.ppm"

# Linux.
(
    cd "$work/linux"
    for c in "${commands[@]}"; do
        # shellcheck disable=SC2086
        "$linux/tools/zrdec" $c >>log.txt 2>&1 && status=0 || status=$?
        echo "exit $status" >>log.txt
    done
)
# Windows: one batch file, so that Wine starts once.
exe_win="Z:${exe//\//\\}"
{
    echo "@echo off"
    for c in "${commands[@]}"; do
        printf '"%s" %s >>log.txt 2>&1\r\n>>log.txt echo exit %%ERRORLEVEL%%\r\n' "$exe_win" "$c"
    done
} >"$work/windows/run.bat"
(cd "$work/windows" && "${wine_run[@]}" cmd /c run.bat)
rm "$work/windows/run.bat"
# Text written on Windows ends its lines with CR LF.
find "$work/windows" -name '*.txt' -exec sed -i 's/\r$//' {} +

if ! diff -r "$work/linux" "$work/windows" >"$work/differences.txt"; then
    head -40 "$work/differences.txt" >&2
    echo "zrdec.exe differs from zrdec (see $work/differences.txt)" >&2
    exit 1
fi
echo "${#commands[@]} zrdec runs on $(ls "$work/streams" | wc -l) streams: outputs, messages and exit codes identical"

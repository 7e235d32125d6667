#!/usr/bin/env python3
"""Decoding speed and quality of ZR against baseline and progressive JPEG and
JPEG 2000 at matched file size.

Every coder gets the same byte budget, --bpp bits per pixel: the ZR streams of
both modes (zrenc --size), the JPEG files (cjpeg, quality searched) and the
JPEG 2000 file (opj_compress, rate searched) are each the largest their coder
makes within the budget. Each file is decoded by its command-line decoder as a
whole process, several runs under hyperfine; the table gives megapixels per
second from the mean wall time (with its spread) and from the mean CPU time
(user + system, steadier on a busy machine), and PSNR against the original.

usage: bench/compare.py [--bpp X] [--runs N] [--zr-args OPTIONS] [--zr-bin DIR]
                        [PICTURE ...]

PICTURE is a PNG, PGM or PPM (default: camera, astronaut and
hubble_deep_field from corpus-local/pictures, made by scripts/make-corpus.sh).
Needs hyperfine, cjpeg/djpeg (libjpeg-turbo-progs), opj_compress and
opj_decompress (libopenjp2-tools) and the netpbm tools.
"""

import argparse
import json
import os
import shutil
import sys
import tempfile

from pictures import ROOT, jp2_within, jpeg_within, png_to_pnm, psnr, read_pnm, run


def to_pnm(picture, work):
    """The picture as a binary PGM/PPM (the form cjpeg and opj_compress read)."""
    name = os.path.splitext(os.path.basename(picture))[0]
    if picture.lower().endswith(".png"):
        out = os.path.join(work, name + ".pnm")
        with open(out, "wb") as f:
            f.write(png_to_pnm(picture))
    else:
        out = picture
    w, h, c, _, _ = read_pnm(out)
    ext = ".ppm" if c == 3 else ".pgm"
    typed = os.path.join(work, name + ext)
    if out != typed:
        shutil.copyfile(out, typed)
    return typed


def make_files(picture_pnm, args, work):
    base = os.path.splitext(os.path.basename(picture_pnm))[0]
    w, h, c, _, _ = read_pnm(picture_pnm)
    ext = os.path.splitext(picture_pnm)[1]
    files = []

    zrenc = os.path.join(args.zr_bin, "zrenc")
    zrdec = os.path.join(args.zr_bin, "zrdec")
    target = int(args.bpp * w * h / 8)
    for mode in ("one-pass", "progressive"):
        zr = os.path.join(work, "%s-%s.zr" % (base, mode))
        run([zrenc, "--mode", mode, "--size", str(target)] + args.zr_args.split() + [picture_pnm, zr])
        files.append(("ZR %s" % mode, zr, [zrdec, zr, os.path.join(work, "out-zr" + ext)],
                      os.path.join(work, "out-zr" + ext)))

    for label, progressive in (("JPEG baseline", False), ("JPEG progressive", True)):
        jpg = os.path.join(work, "%s%s.jpg" % (base, "-prog" if progressive else ""))
        jpeg_within(picture_pnm, target, jpg, progressive)
        out = os.path.join(work, "out-jpeg" + ext)
        files.append((label, jpg, ["djpeg", "-outfile", out, jpg], out))

    jp2 = os.path.join(work, base + ".jp2")
    raw_bytes = w * h * c
    jp2_within(picture_pnm, target, jp2)
    out = os.path.join(work, "out-jp2" + ext)
    files.append(("JPEG 2000", jp2, ["opj_decompress", "-i", jp2, "-o", out], out))
    return (w, h, c), raw_bytes, files


def time_command(command, runs, work):
    report = os.path.join(work, "hyperfine.json")
    run(["hyperfine", "--runs", str(runs), "--warmup", "2", "--style", "none", "--export-json", report,
         " ".join(command)])
    with open(report) as f:
        result = json.load(f)["results"][0]
    return result["mean"], result["stddev"], result["user"] + result["system"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("pictures", nargs="*")
    parser.add_argument("--bpp", type=float, default=1.0, help="byte budget in bits per pixel (default 1.0)")
    parser.add_argument("--runs", type=int, default=20, help="timed runs per decoder (default 20)")
    parser.add_argument("--zr-args", default="",
                        help="more zrenc options, e.g. \"--value-coder 1 --map-coder 0\"")
    parser.add_argument("--zr-bin", default=os.path.join(ROOT, "build", "tools"),
                        help="folder holding zrenc and zrdec (default build/tools)")
    args = parser.parse_args()
    pictures = args.pictures or [os.path.join(ROOT, "corpus-local", "pictures", name + ".png")
                                 for name in ("camera", "astronaut", "hubble_deep_field")]
    for tool in ("hyperfine", "cjpeg", "djpeg", "opj_compress", "opj_decompress", "pngtopnm"):
        if not shutil.which(tool):
            raise SystemExit("compare: %s is missing (apt-get install hyperfine libjpeg-turbo-progs "
                             "libopenjp2-tools netpbm)" % tool)
    for tool in ("zrenc", "zrdec"):
        if not os.access(os.path.join(args.zr_bin, tool), os.X_OK):
            raise SystemExit("compare: no %s in %s (build it, or use --zr-bin)" % (tool, args.zr_bin))

    print("%-20s %-17s %8s %6s %8s %7s %8s %8s" % (
        "picture", "decoder", "bytes", "bpp", "MP/s", "+-", "CPU MP/s", "PSNR dB"))
    for picture in pictures:
        if not os.path.exists(picture):
            raise SystemExit("compare: %s not found (scripts/make-corpus.sh makes the default pictures)" % picture)
        with tempfile.TemporaryDirectory(prefix="zr-compare-") as work:
            pnm = to_pnm(picture, work)
            (w, h, c), _, files = make_files(pnm, args, work)
            reference = read_pnm(pnm)
            megapixels = w * h / 1e6
            name = "%s %dx%d" % (os.path.splitext(os.path.basename(picture))[0], w, h)
            for label, path, command, out in files:
                mean, stddev, cpu = time_command(command, args.runs, work)
                quality = psnr(reference, read_pnm(out))
                size = os.path.getsize(path)
                rate = megapixels / mean
                spread = rate * stddev / mean
                print("%-20s %-17s %8d %6.3f %8.2f %7.2f %8.2f %8.2f" % (
                    name, label, size, 8.0 * size / (w * h), rate, spread, megapixels / cpu, quality))
                sys.stdout.flush()


if __name__ == "__main__":
    main()

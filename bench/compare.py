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
import math
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(args, **kwargs):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)


def read_pnm(path):
    """Reads a binary PGM/PPM: (width, height, channels, maxval, samples)."""
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            while data[pos:pos + 1] not in (b"\n", b""):
                pos += 1
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    pos += 1
    magic, width, height, maxval = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    channels = {b"P5": 1, b"P6": 3}[magic]
    count = width * height * channels
    if maxval < 256:
        samples = data[pos:pos + count]
    else:
        raw = data[pos:pos + 2 * count]
        samples = [raw[2 * i] << 8 | raw[2 * i + 1] for i in range(count)]
    return width, height, channels, maxval, samples


def psnr(reference, decoded):
    w, h, c, maxval, a = reference
    w2, h2, c2, _, b = decoded
    if (w, h, c) != (w2, h2, c2):
        raise SystemExit("compare: decoded picture has another shape")
    total = sum((x - y) * (x - y) for x, y in zip(a, b))
    if total == 0:
        return float("inf")
    return 10 * math.log10(maxval * maxval * len(a) / total)


def to_pnm(picture, work):
    """The picture as a binary PGM/PPM (the form cjpeg and opj_compress read)."""
    name = os.path.splitext(os.path.basename(picture))[0]
    if picture.lower().endswith(".png"):
        out = os.path.join(work, name + ".pnm")
        with open(out, "wb") as f:
            subprocess.run(["pngtopnm", picture], check=True, stdout=f, stderr=subprocess.DEVNULL)
    else:
        out = picture
    w, h, c, _, _ = read_pnm(out)
    ext = ".ppm" if c == 3 else ".pgm"
    typed = os.path.join(work, name + ext)
    if out != typed:
        shutil.copyfile(out, typed)
    return typed


def search(make, target, low, high):
    """Largest setting in [low, high] whose file is at most `target` bytes
    (sizes grow with the setting); the smallest setting when none fits."""
    best = low
    while low <= high:
        mid = (low + high) // 2
        if make(mid) <= target:
            best = mid
            low = mid + 1
        else:
            high = mid - 1
    make(best)
    return best


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

    for label, extra in (("JPEG baseline", []), ("JPEG progressive", ["-progressive"])):
        jpg = os.path.join(work, "%s%s.jpg" % (base, "-prog" if extra else ""))

        def make_jpeg(quality, jpg=jpg, extra=extra):
            run(["cjpeg", "-quality", str(quality), "-optimize"] + extra + ["-outfile", jpg, picture_pnm])
            return os.path.getsize(jpg)

        search(make_jpeg, target, 1, 100)
        out = os.path.join(work, "out-jpeg" + ext)
        files.append((label, jpg, ["djpeg", "-outfile", out, jpg], out))

    jp2 = os.path.join(work, base + ".jp2")
    raw_bytes = w * h * c

    def make_jp2(step):
        # Ratios from 400:1 down to 1.01:1 on a fine logarithmic scale.
        ratio = 400.0 ** (1 - step / 1000.0) + 0.01
        run(["opj_compress", "-i", picture_pnm, "-o", jp2, "-r", "%.3f" % ratio])
        return os.path.getsize(jp2)

    search(make_jp2, target, 0, 1000)
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

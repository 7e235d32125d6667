#!/usr/bin/env python3
"""Whole-process decoding speed of zrdec against JPEG 2000 and progressive
JPEG on one 2048x1024 picture tiled from the local corpus, at matched size.

The colour picture is made of 256x256 tiles cut from the colour pictures of
corpus-local/pictures (scripts/make-corpus.sh), the grey one from the grey
pictures. Each is encoded at --bpp bits per pixel (default 1.3) as zrenc's
default stream, as a one-pass stream with the fastest coders (--fast-args),
as JPEG 2000 (opj_compress, rate searched) and as progressive JPEG (cjpeg
-progressive -optimize, quality searched). All decodes of a picture are timed
side by side: median of --runs runs, taken in --rounds rounds that each time
every decoder in turn, so that a slow spell of the host falls on all of them
alike. The table gives milliseconds, megapixels per second, size and PSNR.
With --before DIR (a folder holding an older zrdec) or --before-commit REV
(built here from that commit) the older decoder times the same ZR streams in
the same run.

usage: bench/decode_speed.py [--bpp X] [--runs N] [--rounds R] [--size WxH] [--grey-only|--colour-only]
                             [--before DIR | --before-commit REV] [--threads N]
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pictures import ROOT, jp2_within, jpeg_within, psnr, read_picture, read_pnm, run  # noqa: E402

TILE = 256
FAST_ARGS = "--mode one-pass --map-coder 0 --value-coder 3"


def tiled_picture(channels, width, height, out):
    """Writes a width x height PGM/PPM of TILE-sized tiles cut, in turn, from
    every corpus picture with the wanted channel count."""
    folder = os.path.join(ROOT, "corpus-local", "pictures")
    if not os.path.isdir(folder):
        raise SystemExit("decode_speed: %s not found (run scripts/make-corpus.sh)" % folder)
    tiles = []
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".png"):
            continue
        w, h, c, maxval, samples = read_picture(os.path.join(folder, name))
        if c != channels or maxval != 255:
            continue
        for ty in range(h // TILE):
            for tx in range(w // TILE):
                rows = [samples[((ty * TILE + y) * w + tx * TILE) * c:((ty * TILE + y) * w + (tx + 1) * TILE) * c]
                        for y in range(TILE)]
                tiles.append(rows)
    if not tiles:
        raise SystemExit("decode_speed: no %s pictures of at least %d pixels in %s" % (
            "colour" if channels == 3 else "grey", TILE, folder))
    across, down = width // TILE, height // TILE
    body = bytearray()
    for ty in range(down):
        for y in range(TILE):
            for tx in range(across):
                body += tiles[(ty * across + tx) % len(tiles)][y]
    with open(out, "wb") as f:
        f.write(b"P%d\n%d %d\n255\n" % (6 if channels == 3 else 5, across * TILE, down * TILE))
        f.write(body)


def build_before(rev, folder):
    """Builds zrdec of commit `rev` in `folder` (kept for later runs)."""
    tools = os.path.join(folder, "build", "tools")
    if os.access(os.path.join(tools, "zrdec"), os.X_OK):
        return tools
    src = os.path.join(folder, "src")
    os.makedirs(src, exist_ok=True)
    archive = subprocess.run(["git", "-C", ROOT, "archive", rev], check=True, stdout=subprocess.PIPE).stdout
    subprocess.run(["tar", "-x", "-C", src], input=archive, check=True)
    build = os.path.join(folder, "build")
    subprocess.run(["cmake", "-S", src, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j2", "--target", "zrdec"], check=True, stdout=subprocess.DEVNULL)
    return tools


def time_side_by_side(commands, runs, rounds, work):
    """Times every command `runs` times; the runs are split into `rounds`
    hyperfine calls that each time all commands, one after the other.
    Returns each command's list of wall times in seconds."""
    times = [[] for _ in commands]
    report = os.path.join(work, "hyperfine.json")
    rounds = min(rounds, runs)
    for r in range(rounds):
        count = runs // rounds + (1 if r < runs % rounds else 0)
        run(["hyperfine", "--runs", str(count), "--warmup", "1", "--style", "none", "-N",
             "--export-json", report] + commands)
        with open(report) as f:
            for samples, result in zip(times, json.load(f)["results"]):
                samples.extend(result["times"])
    return times


def print_ratios(kind, medians, threaded, with_before):
    """Speed ratios of the table's medians: how many times faster the ZR rows
    run than the row named after "than" (one thread, then threads)."""
    suffixes = [", 1 thread", ", threads"] if threaded else [""]

    def faster(rows, than):
        return " / ".join("%.2f" % (medians[than] / medians[row]) for row in rows if row in medians)

    which = " (1 thread / threads)" if threaded else ""
    for stream in ("default", "fast one-pass"):
        ours = ["zrdec %s%s" % (stream, s) for s in suffixes]
        if with_before:
            print("%-7s %s%s: %sx faster than before" % (kind, stream, which, faster(ours, "before " + stream)))
        peer = "opj_decompress -threads 1" if stream == "default" else "djpeg progressive"
        print("%-7s %s%s: %sx %s's speed" % (kind, stream, which, faster(ours, peer), peer.split()[0]))
    png = "zrdec default to PNG" + suffixes[0]
    print("%-7s default to PNG: %.2fx the time to PPM" % (kind, medians[png] / medians["zrdec default" + suffixes[0]]))


def supports_threads(zrdec):
    text = subprocess.run([zrdec, "--help"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout
    return b"--threads" in text


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bpp", type=float, default=1.3, help="bits per pixel of every file (default 1.3)")
    parser.add_argument("--runs", type=int, default=15, help="timed runs per decoder (default 15)")
    parser.add_argument("--rounds", type=int, default=5,
                        help="rounds the runs are split into, each timing every decoder in turn (default 5)")
    parser.add_argument("--size", default="2048x1024", help="picture size, multiples of 256 (default 2048x1024)")
    parser.add_argument("--fast-args", default=FAST_ARGS,
                        help="zrenc options of the fast stream (default \"%s\")" % FAST_ARGS)
    parser.add_argument("--zr-bin", default=os.path.join(ROOT, "build", "tools"),
                        help="folder holding zrenc and zrdec (default build/tools)")
    parser.add_argument("--before", help="folder holding an older zrdec to time alongside")
    parser.add_argument("--before-commit", help="build zrdec of this commit and time it alongside")
    parser.add_argument("--threads", type=int, default=0,
                        help="thread count of the threaded zrdec rows (default: all cores)")
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--grey-only", action="store_true")
    group.add_argument("--colour-only", action="store_true")
    args = parser.parse_args()

    for tool in ("hyperfine", "cjpeg", "djpeg", "opj_compress", "opj_decompress", "pngtopnm"):
        if not shutil.which(tool):
            raise SystemExit("decode_speed: %s is missing (setup.sh installs it)" % tool)
    zrenc = os.path.join(args.zr_bin, "zrenc")
    zrdec = os.path.join(args.zr_bin, "zrdec")
    for tool in (zrenc, zrdec):
        if not os.access(tool, os.X_OK):
            raise SystemExit("decode_speed: %s not built (or use --zr-bin)" % tool)
    if args.runs < 1 or args.rounds < 1:
        raise SystemExit("decode_speed: --runs and --rounds need to be at least 1")
    width, height = (int(v) for v in args.size.lower().split("x"))
    if width % TILE or height % TILE or width <= 0 or height <= 0:
        raise SystemExit("decode_speed: --size needs positive multiples of %d" % TILE)
    before = None
    if args.before_commit:
        rev = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", args.before_commit], check=True,
                             stdout=subprocess.PIPE, text=True).stdout.strip()
        before = os.path.join(build_before(rev, os.path.join(ROOT, "build", "before-" + rev)), "zrdec")
    elif args.before:
        before = os.path.join(args.before, "zrdec")
    if before and not os.access(before, os.X_OK):
        raise SystemExit("decode_speed: no zrdec at %s" % before)
    threaded = supports_threads(zrdec)

    kinds = [(3, "colour"), (1, "grey")]
    if args.grey_only:
        kinds = kinds[1:]
    if args.colour_only:
        kinds = kinds[:1]
    print("%-7s %-34s %8s %6s %8s %8s %8s" % ("picture", "decoder", "bytes", "bpp", "ms", "MP/s", "PSNR dB"))
    for channels, kind in kinds:
        with tempfile.TemporaryDirectory(prefix="zr-speed-") as work:
            ext = ".ppm" if channels == 3 else ".pgm"
            picture = os.path.join(work, "picture" + ext)
            tiled_picture(channels, width, height, picture)
            target = int(args.bpp * width * height / 8)
            rows = []  # (label, file, command, output)

            def zr_rows(label, stream):
                out = os.path.join(work, "out-" + label.replace(" ", "-") + ext)
                one = ["--threads", "1"] if threaded else []
                rows.append(("zrdec %s%s" % (label, ", 1 thread" if threaded else ""), stream,
                             [zrdec] + one + [stream, out], out))
                if threaded:
                    n = ["--threads", str(args.threads)] if args.threads else []
                    rows.append(("zrdec %s, threads" % label, stream, [zrdec] + n + [stream, out], out))
                if before:
                    rows.append(("before %s" % label, stream, [before, stream, out], out))

            default = os.path.join(work, "default.zr")
            run([zrenc, "--size", str(target), picture, default])
            zr_rows("default", default)
            png = os.path.join(work, "out-default.png")
            rows.append(("zrdec default to PNG%s" % (", 1 thread" if threaded else ""), default,
                         [zrdec] + (["--threads", "1"] if threaded else []) + [default, png], None))
            fast = os.path.join(work, "fast.zr")
            run([zrenc, "--size", str(target)] + args.fast_args.split() + [picture, fast])
            zr_rows("fast one-pass", fast)

            jp2 = os.path.join(work, "picture.jp2")
            jp2_within(picture, target, jp2)
            out = os.path.join(work, "out-jp2" + ext)
            rows.append(("opj_decompress -threads 1", jp2, ["opj_decompress", "-threads", "1", "-i", jp2, "-o", out],
                         out))
            jpg = os.path.join(work, "picture.jpg")
            jpeg_within(picture, target, jpg, progressive=True)
            out = os.path.join(work, "out-jpeg" + ext)
            rows.append(("djpeg progressive", jpg, ["djpeg", "-outfile", out, jpg], out))

            times = time_side_by_side([" ".join(command) for _, _, command, _ in rows], args.runs, args.rounds, work)
            reference = read_pnm(picture)
            megapixels = width * height / 1e6
            medians = {}
            for (label, path, command, out), samples in zip(rows, times):
                if out:
                    run(command)
                    quality = "%8.2f" % psnr(reference, read_pnm(out))
                else:
                    quality = "%8s" % "-"
                size = os.path.getsize(path)
                median = statistics.median(samples)
                medians[label] = median
                print("%-7s %-34s %8d %6.3f %8.1f %8.1f %s" % (
                    kind, label, size, 8.0 * size / (width * height), median * 1e3, megapixels / median, quality))
                sys.stdout.flush()
            print_ratios(kind, medians, threaded, before is not None)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Where zrenc and opj_compress -I (9/7) spend their bytes and leave their
error, level by level, at the same size.

For each picture and rate, zrenc --size at the budget and opj_compress -I at
the largest size within it (the rate-distortion benchmark's search). Per
level (0 the finest, then the lowest band) it prints each stream's bytes and
the squared error each decoded picture leaves there, with the original's own
energy at that level: the error against the original is split into the parts
that the levels of the encoder's 5/3 lifting carry (their mean squares add up
to about the whole error). The signal column is what leaving a level out
costs at best; an error above it at a level means that level was left out and
the coarser levels' errors reach into it.

zrenc's bytes per level come from its decoder's partial pictures (the stream
position where each level's detail starts); opj_compress's from a second
encode at the same setting split into tile-parts by resolution (-TP R), whose
markers give each part's length. opj_compress's levels are counted from the
finest too; it has one level fewer, so its coarsest part is the lowest band
and zrenc's coarsest level together.

usage: bench/level_analysis.py [--pictures LIST] [--bpp LIST] [--zrenc PATH] [--zr-args OPTIONS]
Needs what bench/rd.py needs and the zr Python module of the build
(build/python).
"""

import argparse
import os
import shlex
import struct
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rd  # noqa: E402


def level_size(n, level):
    return (n + (1 << (level + 1)) - 2) >> level


def level_count(height, width):
    return int(np.floor(np.log2(min(height - 2, width - 2)))) - 2


def lift(x):
    """The encoder's 5/3 lifting of one line: lows then highs."""
    n = len(x)
    m = n if n & 1 else n - 1
    even, odd = x[0:m:2], x[1:m:2]
    high = odd - 0.5 * (even[:-1] + even[1:])
    padded = np.concatenate([[0.0], high, [0.0]])
    low = even + 0.25 * (padded[:-1] + padded[1:])
    if not n & 1:
        low = np.concatenate([low, [x[n - 1]]])
    return np.concatenate([low, high])


def unlift(y):
    n = len(y)
    m = n if n & 1 else n - 1
    lows = (n + 2) >> 1
    high = y[lows:]
    padded = np.concatenate([[0.0], high, [0.0]])
    even = y[:(m + 1) // 2] - 0.25 * (padded[:-1] + padded[1:])
    x = np.empty(n)
    x[0:m:2] = even
    x[1:m:2] = high + 0.5 * (even[:-1] + even[1:])
    if not n & 1:
        x[n - 1] = y[lows - 1]
    return x


def level_parts(plane, levels):
    """Mean square of the part of `plane` each level carries (index `levels`:
    the lowest band)."""
    h, w = plane.shape
    c = plane.astype(np.float64)
    for level in range(levels):
        r, k = level_size(h, level), level_size(w, level)
        c[:r, :k] = np.apply_along_axis(lift, 1, c[:r, :k])
        c[:r, :k] = np.apply_along_axis(lift, 0, c[:r, :k])
    out = []
    for level in range(levels + 1):
        keep = np.zeros_like(c)
        r, k = level_size(h, level), level_size(w, level)
        if level == levels:
            keep[:r, :k] = c[:r, :k]
        else:
            keep[:r, :k] = c[:r, :k]
            keep[:level_size(h, level + 1), :level_size(w, level + 1)] = 0.0
        for back in reversed(range(levels)):
            r, k = level_size(h, back), level_size(w, back)
            keep[:r, :k] = np.apply_along_axis(unlift, 0, keep[:r, :k])
            keep[:r, :k] = np.apply_along_axis(unlift, 1, keep[:r, :k])
        out.append(float(np.mean(keep ** 2)))
    return out


def error_by_level(original, decoded, levels):
    a = original.astype(np.float64)
    b = decoded.astype(np.float64)
    if a.ndim == 2:
        a, b = a[..., None], b[..., None]
    parts = [level_parts(a[..., c] - b[..., c], levels) for c in range(a.shape[2])]
    return list(np.mean(parts, axis=0))


def zr_bytes_by_level(stream, height, width, levels):
    """Bytes of each level's detail (index `levels`: header and lowest bands)."""
    import zr
    start = {}
    for partial in zr.decode_stream([stream], interval=1):
        if partial.final:
            break
        rows = partial.pixels.shape[0]
        for level in range(levels + 1):
            if level_size(height, level) == rows and level not in start:
                start[level] = partial.position
    out = [0] * (levels + 1)
    end = len(stream)
    for level in range(levels):
        begin = start.get(level, end)
        out[level] = end - begin
        end = begin
    out[levels] = end
    return out


def j2k_bytes_by_resolution(path):
    """Lengths of the tile-parts, coarsest resolution first."""
    data = open(path, "rb").read()
    out = []
    at = data.find(b"\xff\x90")
    while at >= 0 and at + 12 <= len(data):
        length = struct.unpack(">I", data[at + 6:at + 10])[0]
        if length == 0:
            break
        out.append(length)
        at = data.find(b"\xff\x90", at + length)
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--pictures", default="wood-grey,weave-grey,fabric")
    ap.add_argument("--bpp", default="0.5,1")
    ap.add_argument("--zrenc", default=os.path.join(rd.ROOT, "build/tools/zrenc"))
    ap.add_argument("--zrdec", default=os.path.join(rd.ROOT, "build/tools/zrdec"))
    ap.add_argument("--zr-args", default="", help="more zrenc options")
    ap.add_argument("--python", default=os.path.join(rd.ROOT, "build/python"), help="where the zr module is")
    args = ap.parse_args()
    sys.path.insert(0, args.python)

    for name, original in rd.benchmark_pictures(False, args.pictures).items():
        grey = original.ndim == 2
        height, width = original.shape[:2]
        pixels = height * width
        levels = level_count(height, width)
        centred = original.astype(np.float64) - original.mean(axis=(0, 1))
        signal = error_by_level(centred, np.zeros_like(centred), levels)
        with tempfile.TemporaryDirectory(prefix="zr-levels-") as work:
            png = os.path.join(work, "src.png")
            pnm = os.path.join(work, "src.pgm" if grey else "src.ppm")
            rd.write_picture(original, png)
            rd.write_picture(original, pnm)
            for bpp in [float(b) for b in args.bpp.split(",")]:
                budget = int(bpp * pixels / 8)
                zr_path = os.path.join(work, "zr.zr")
                subprocess.run([args.zrenc] + shlex.split(args.zr_args) + ["--size", str(budget), png, zr_path],
                               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                zr_decoded = os.path.join(work, "zr.png")
                subprocess.run([args.zrdec, zr_path, zr_decoded], check=True, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                zr_picture = rd.load_picture(zr_decoded)
                stream = open(zr_path, "rb").read()
                zr_bytes = zr_bytes_by_level(stream, height, width, levels)

                peer = rd.Peer("j2k-97", work, png, pnm, grey, pixels)
                knob, j2k_size, _ = peer.largest_within(budget)
                j2k_picture = peer.decode()
                split = os.path.join(work, "split.j2k")
                subprocess.run(["opj_compress", "-i", pnm, "-o", split, "-r", "%.4f" % knob, "-I", "-TP", "R"],
                               check=True, stdout=subprocess.DEVNULL)
                parts = j2k_bytes_by_resolution(split)[::-1]   # finest first
                detail = parts[:-1][:levels]
                j2k_bytes = detail + [0] * (levels - len(detail)) + parts[-1:]

                print("%s at %g bpp: zrenc %d bytes %.2f dB, opj_compress -I %d bytes %.2f dB" % (
                    name, bpp, len(stream), rd.psnr(original, zr_picture), j2k_size, rd.psnr(original, j2k_picture)))
                print("  level   zr bytes  j2k bytes   zr error  j2k error     signal")
                zr_error = error_by_level(original, zr_picture, levels)
                j2k_error = error_by_level(original, j2k_picture, levels)
                for level in range(levels + 1):
                    label = "lowest" if level == levels else "%d" % level
                    print("  %-6s %9d %10d %10.3f %10.3f %10.2f" % (
                        label, zr_bytes[level], j2k_bytes[level], zr_error[level], j2k_error[level], signal[level]))
                sys.stdout.flush()


if __name__ == "__main__":
    main()

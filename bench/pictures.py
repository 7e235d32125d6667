"""Pictures and reference coders shared by the benchmark scripts: reading
PGM/PPM (and PNG through pngtopnm), PSNR, and JPEG / JPEG 2000 files made as
large as a byte budget allows."""

import math
import os
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(args, **kwargs):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)


def parse_pnm(data):
    """A binary PGM/PPM: (width, height, channels, maxval, samples)."""
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


def read_pnm(path):
    with open(path, "rb") as f:
        return parse_pnm(f.read())


def png_to_pnm(png):
    """The bytes of a PNG converted to a binary PGM/PPM."""
    return subprocess.run(["pngtopnm", png], check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL).stdout


def read_picture(path):
    """A PNG, PGM or PPM as read_pnm gives it."""
    if path.lower().endswith(".png"):
        return parse_pnm(png_to_pnm(path))
    return read_pnm(path)


def psnr(reference, decoded):
    w, h, c, maxval, a = reference
    w2, h2, c2, _, b = decoded
    if (w, h, c) != (w2, h2, c2):
        raise SystemExit("decoded picture has another shape")
    total = sum((x - y) * (x - y) for x, y in zip(a, b))
    if total == 0:
        return float("inf")
    return 10 * math.log10(maxval * maxval * len(a) / total)


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


def jpeg_within(picture, target, jpg, progressive):
    """Writes jpg, the largest cjpeg -optimize file of the PGM/PPM picture
    within target bytes (quality searched)."""

    def make(quality):
        run(["cjpeg", "-quality", str(quality), "-optimize"] + (["-progressive"] if progressive else [])
            + ["-outfile", jpg, picture])
        return os.path.getsize(jpg)

    search(make, target, 1, 100)


def jp2_within(picture, target, jp2):
    """Writes jp2, the largest opj_compress file of the PGM/PPM picture within
    target bytes (compression ratio searched)."""

    def make(step):
        # Ratios from 400:1 down to 1.01:1 on a fine logarithmic scale.
        ratio = 400.0 ** (1 - step / 1000.0) + 0.01
        run(["opj_compress", "-i", picture, "-o", jp2, "-r", "%.3f" % ratio])
        return os.path.getsize(jp2)

    search(make, target, 0, 1000)

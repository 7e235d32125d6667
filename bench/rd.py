#!/usr/bin/python3
"""Rate-distortion benchmark: zrenc against other still-picture coders at
matched sizes.

Every picture is coded at 0.25, 0.5, 1 and 2 bits per pixel. zrenc reaches
the byte budget with its own --size; every other coder gets the largest file
within the budget that a search over its quality setting finds. Prints PSNR
and SSIM tables, Bjontegaard delta rates (PSNR and SSIM) of each zrenc variant
against each peer, and CPU encode times; draws the PSNR curves into a PNG.

Pictures: the ones generated here (renders, gradients, noise, textures; grey
and colour) and, when present, a few from corpus-local/pictures (made by
scripts/make-corpus.sh). Peer results are cached (bench results folder,
peers.json) as they do not change between zrenc builds.

usage: bench/rd.py [--zrenc PATH] [--zrdec PATH] [--variant NAME=ARGS ...]
                   [--peers LIST] [--bpp LIST] [--pictures LIST] [--photos] [--out DIR]

  --variant NAME=ARGS  a zrenc run with extra options (repeatable), e.g.
                       --variant "one-pass=--mode one-pass"; the default
                       variant "zr" uses zrenc's defaults; ARGS starting with
                       @PATH run another zrenc build
Needs Debian's python3-numpy, python3-scipy, python3-matplotlib, python3-pil
and the peers' tools (libopenjp2-tools, libjpeg-turbo-progs, webp,
libavif-bin, libjxl-tools); run with /usr/bin/python3.
"""

import argparse
import hashlib
import json
import math
import os
import resource
import shlex
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image
from scipy import ndimage

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = ["camera", "moon", "coins", "astronaut", "coffee", "chelsea", "rocket"]
PEERS = ["j2k-97", "j2k-53", "jpeg", "webp", "avif", "jxl"]


# ---------------------------------------------------------------- pictures

def generated_pictures(size=(288, 384)):
    """Deterministic test pictures: name -> uint8 array (H, W) or (H, W, 3)."""
    h, w = size
    rng = np.random.default_rng(16)
    y, x = np.mgrid[0:h, 0:w].astype(np.float64)
    fy, fx = y / h, x / w
    pictures = {}

    # A render: lit spheres over a shaded floor with a hard horizon.
    img = np.zeros((h, w, 3))
    floor = fy > 0.55
    checker = ((np.floor(fx * 12) + np.floor((fy - 0.55) * 30 / np.maximum(fy, 0.56))) % 2)
    img[floor] = (np.stack([0.35 + 0.3 * checker, 0.3 + 0.25 * checker, 0.25 + 0.2 * checker], -1)[floor]
                  * (0.5 + 0.5 * fy[floor, None]))
    sky = ~floor
    img[sky] = np.stack([0.4 + 0.3 * fy, 0.55 + 0.3 * fy, 0.9 - 0.1 * fy], -1)[sky]
    for cx, cy, r, colour in [(0.3, 0.5, 0.16, (0.9, 0.2, 0.15)), (0.62, 0.45, 0.22, (0.2, 0.6, 0.9)),
                              (0.85, 0.6, 0.09, (0.95, 0.85, 0.2))]:
        dx, dy = (fx - cx) * w / h, fy - cy
        d2 = (dx * dx + dy * dy) / (r * r)
        inside = d2 < 1
        nz = np.sqrt(np.clip(1 - d2, 0, 1))
        light = np.clip((-0.5 * dx / r - 0.6 * dy / r + 0.62 * nz), 0, 1)
        highlight = light ** 30
        for c in range(3):
            img[..., c] = np.where(inside, colour[c] * (0.15 + 0.85 * light) + 0.8 * highlight, img[..., c])
    pictures["render"] = img
    pictures["render-grey"] = img @ np.array([0.299, 0.587, 0.114])

    # Smooth colour gradients with a soft vignette and a little grain.
    grad = np.stack([fx, 0.5 + 0.5 * np.sin(3 * fy + 2 * fx), 1 - 0.7 * fx * fy], -1)
    grad *= (1 - 0.4 * ((fx - 0.5) ** 2 + (fy - 0.5) ** 2))[..., None]
    pictures["gradient"] = grad + rng.normal(0, 0.006, grad.shape)

    # Band-limited noise (clouds), grey, and coarse-grained colour noise.
    def cloud(shape, scales):
        out = np.zeros(shape)
        for s, a in scales:
            out += a * ndimage.gaussian_filter(rng.normal(0, 1, shape), s)
        return out
    c = cloud((h, w), [(16, 6.0), (4, 1.5), (1, 0.25)])
    pictures["clouds-grey"] = 0.5 + 0.25 * c / c.std()
    n = cloud((h, w, 3), [(1.2, 1.0)])
    pictures["noise"] = 0.5 + 0.15 * n / n.std()

    # Textures: wood rings and a woven pattern (grey), fabric (colour).
    r = np.sqrt(((fx - 0.3) * 3) ** 2 + ((fy - 1.4) * 1.2) ** 2)
    wood = 0.5 + 0.35 * np.sin(40 * r + 3 * cloud((h, w), [(6, 1.0)]))
    pictures["wood-grey"] = wood
    weave = 0.5 + 0.2 * np.sin(x * 0.9) * np.sign(np.sin(y * 0.25)) + 0.2 * np.sin(y * 0.9) * np.sign(np.sin(x * 0.25))
    pictures["weave-grey"] = weave + 0.03 * cloud((h, w), [(0.7, 1.0)])
    fab = np.stack([0.5 + 0.3 * np.sin(x * 0.5 + 2 * np.sin(y * 0.05)),
                    0.45 + 0.25 * np.sin(y * 0.45),
                    0.4 + 0.2 * np.sin((x + y) * 0.3)], -1)
    pictures["fabric"] = fab
    return {k: np.clip(np.rint(v * 255), 0, 255).astype(np.uint8) for k, v in pictures.items()}


def benchmark_pictures(photos_only=False, names=""):
    """The generated pictures (unless photos_only) and the corpus-local
    photographs present, limited to the comma-separated names if given."""
    pictures = {} if photos_only else generated_pictures()
    for name in CORPUS:
        path = os.path.join(ROOT, "corpus-local/pictures", name + ".png")
        if os.path.exists(path):
            pictures[name] = load_picture(path)
    if names:
        wanted = names.split(",")
        pictures = {k: v for k, v in pictures.items() if k in wanted}
    return pictures


def load_picture(path):
    img = Image.open(path)
    if img.mode in ("L", "I;16", "I"):
        return np.asarray(img.convert("L"))
    return np.asarray(img.convert("RGB"))


def write_picture(array, path):
    Image.fromarray(array).save(path)


# ---------------------------------------------------------------- metrics

def psnr(a, b):
    mse = np.mean((a.astype(np.float64) - b.astype(np.float64)) ** 2)
    return 99.0 if mse == 0 else 10 * math.log10(255.0 ** 2 / mse)


def ssim(a, b):
    """Mean SSIM (Gaussian window, sigma 1.5) over all channels."""
    a = a.astype(np.float64)
    b = b.astype(np.float64)
    if a.ndim == 2:
        a, b = a[..., None], b[..., None]
    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2
    values = []
    for ch in range(a.shape[2]):
        x, y = a[..., ch], b[..., ch]
        f = lambda v: ndimage.gaussian_filter(v, 1.5, truncate=3.5)
        mx, my = f(x), f(y)
        sxx, syy, sxy = f(x * x) - mx * mx, f(y * y) - my * my, f(x * y) - mx * my
        m = ((2 * mx * my + c1) * (2 * sxy + c2)) / ((mx * mx + my * my + c1) * (sxx + syy + c2))
        values.append(m[5:-5, 5:-5].mean())
    return float(np.mean(values))


def bd_rate(ref, test, low=0.25, high=2.0):
    """Bjontegaard delta rate (%) of test against ref: lists of (bpp, quality).

    Log rate against quality through monotone piecewise-cubic (PCHIP)
    interpolation of the points between `low` and `high` bits per pixel (with
    a little slack for size matching), averaged over the common quality range:
    unlike one cubic through all points it stays well conditioned when points
    crowd together and never swings between them."""
    from scipy.interpolate import PchipInterpolator

    def curve(points):
        pts = sorted((q, math.log(r)) for r, q in points if low * 0.9 <= r <= high * 1.02 and math.isfinite(q))
        qs, rs = [], []
        for q, r in pts:   # keep a curve whose rate rises with quality
            if not qs or (q > qs[-1] + 1e-9 and r > rs[-1]):
                qs.append(q)
                rs.append(r)
        return (PchipInterpolator(qs, rs), qs[0], qs[-1]) if len(qs) >= 3 else None
    cr, ct = curve(ref), curve(test)
    if cr is None or ct is None:
        return None
    lo, hi = max(cr[1], ct[1]), min(cr[2], ct[2])
    if hi - lo < 1e-6:
        return None
    grid = np.linspace(lo, hi, 201)
    avg = float(np.mean(ct[0](grid) - cr[0](grid)))
    return (math.exp(avg) - 1) * 100


# ---------------------------------------------------------------- coders

def cpu_run(args):
    """Runs a command; returns CPU seconds (user + system) of the child."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


class Peer:
    """A coder with one quality knob; `encode(q)` writes self.out."""

    def __init__(self, name, work, src_png, src_pnm, grey, pixels):
        self.name, self.work, self.png, self.pnm, self.grey = name, work, src_png, src_pnm, grey
        self.pixels = pixels
        self.out = os.path.join(work, name + {"j2k-97": ".j2k", "j2k-53": ".j2k", "jpeg": ".jpg",
                                              "webp": ".webp", "avif": ".avif", "jxl": ".jxl"}[name])

    # Knob range, whether it is whole numbers, and whether size grows with it.
    def knob(self):
        return {"j2k-97": (1.0, 400.0, False, False), "j2k-53": (1.0, 400.0, False, False),
                "jpeg": (1, 100, True, True), "webp": (0.0, 100.0, False, True),
                "avif": (0, 63, True, False), "jxl": (0.05, 25.0, False, False)}[self.name]

    def command(self, q):
        n = self.name
        if n.startswith("j2k"):
            args = ["opj_compress", "-i", self.pnm, "-o", self.out, "-r", "%.4f" % q]
            return args + (["-I"] if n == "j2k-97" else [])
        if n == "jpeg":
            return ["cjpeg", "-optimize", "-quality", str(int(q)), "-outfile", self.out, self.pnm]
        if n == "webp":
            return ["cwebp", "-quiet", "-m", "6", "-q", "%.3f" % q, self.png, "-o", self.out]
        if n == "avif":
            args = ["avifenc", "--min", str(int(q)), "--max", str(int(q)), "-s", "6", "-j", "1"]
            return args + (["-y", "400"] if self.grey else []) + [self.png, self.out]
        return ["cjxl", "--quiet", "-d", "%.4f" % q, self.png, self.out]

    def encode(self, q):
        seconds = cpu_run(self.command(q))
        return os.path.getsize(self.out), seconds

    def decode(self):
        n, target = self.name, os.path.join(self.work, "decoded.png")
        if n.startswith("j2k"):
            target = os.path.join(self.work, "decoded" + (".pgm" if self.grey else ".ppm"))
            subprocess.run(["opj_decompress", "-i", self.out, "-o", target], check=True, stdout=subprocess.DEVNULL)
        elif n == "jpeg":
            target = os.path.join(self.work, "decoded.pnm")
            subprocess.run(["djpeg", "-pnm", "-outfile", target, self.out], check=True)
        elif n == "webp":
            subprocess.run(["dwebp", "-quiet", self.out, "-o", target], check=True)
        elif n == "avif":
            subprocess.run(["avifdec", self.out, target], check=True, stdout=subprocess.DEVNULL)
        else:
            subprocess.run(["djxl", self.out, target], check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        img = Image.open(target)
        return np.asarray(img.convert("L" if self.grey else "RGB"))

    def largest_within(self, budget):
        """Searches the knob for the largest file within budget bytes."""
        lo, hi, whole, rising = self.knob()
        best = None
        tried = {}

        def size_at(q):
            if q not in tried:
                tried[q] = self.encode(q)
            return tried[q][0]

        a, b = lo, hi          # a: small files, b: large files (in knob terms)
        if not rising:
            a, b = hi, lo
        for _ in range(40 if whole else 11):
            if whole and abs(b - a) <= 1:
                break
            mid = (a + b) // 2 if whole else ((a * b) ** 0.5 if not rising and a > 0 and b > 0 else (a + b) / 2)
            if size_at(mid) <= budget:
                a = mid
            else:
                b = mid
        for q in (b, a) if whole else (a,):
            if size_at(q) <= budget:
                best = q
                break
        if best is None:
            return None
        seconds = min(cpu_run(self.command(best)) for _ in range(2))   # leaves the chosen file
        return best, os.path.getsize(self.out), seconds


# ---------------------------------------------------------------- main

def measure_zr(args, variant_args, work, src, pixels, budget, original):
    out = os.path.join(work, "zr.zr")
    words = shlex.split(variant_args)
    binary = args.zrenc
    if words and words[0].startswith("@"):
        binary, words = words[0][1:], words[1:]
    cmd = [binary] + words + ["--size", str(budget), src, out]
    seconds = cpu_run(cmd)
    size = os.path.getsize(out)
    decoded = os.path.join(work, "zr-decoded.png")
    subprocess.run([args.zrdec, out, decoded], check=True, stdout=subprocess.DEVNULL)
    img = np.asarray(Image.open(decoded).convert("L" if original.ndim == 2 else "RGB"))
    return {"bytes": size, "bpp": 8.0 * size / pixels, "psnr": psnr(original, img),
            "ssim": ssim(original, img), "seconds": seconds, "budget": budget}


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--zrenc", default=os.path.join(ROOT, "build/tools/zrenc"))
    ap.add_argument("--zrdec", default=os.path.join(ROOT, "build/tools/zrdec"))
    ap.add_argument("--variant", action="append", default=[])
    ap.add_argument("--peers", default=",".join(PEERS))
    ap.add_argument("--bpp", default="0.25,0.5,1,2")
    ap.add_argument("--pictures", default="", help="comma-separated names (generated or corpus)")
    ap.add_argument("--out", default=os.path.join(ROOT, "build/rd"))
    ap.add_argument("--no-plot", action="store_true")
    ap.add_argument("--photos", action="store_true", help="only the corpus-local photographs")
    args = ap.parse_args()

    os.makedirs(args.out, exist_ok=True)
    variants = [("zr", "")] + [tuple(v.split("=", 1)) for v in args.variant]
    peers = [p for p in args.peers.split(",") if p]
    rates = [float(b) for b in args.bpp.split(",")]

    pictures = benchmark_pictures(args.photos, args.pictures)

    cache_path = os.path.join(args.out, "peers.json")
    cache = json.load(open(cache_path)) if os.path.exists(cache_path) else {}
    results = {}   # coder -> picture -> list of points
    with tempfile.TemporaryDirectory(prefix="zr-rd-") as work:
        for pname, original in pictures.items():
            grey = original.ndim == 2
            png = os.path.join(work, "src.png")
            pnm = os.path.join(work, "src.pgm" if grey else "src.ppm")
            write_picture(original, png)
            write_picture(original, pnm)
            pixels = original.shape[0] * original.shape[1]
            digest = hashlib.sha1(original.tobytes()).hexdigest()[:12]
            print("%-12s %dx%d %s" % (pname, original.shape[1], original.shape[0], "grey" if grey else "colour"),
                  file=sys.stderr)
            for bpp in rates:
                budget = int(bpp * pixels / 8)
                for vname, vargs in variants:
                    point = measure_zr(args, vargs, work, png, pixels, budget, original)
                    results.setdefault(vname, {}).setdefault(pname, []).append(point)
                for peer in peers:
                    key = "%s/%s/%d" % (peer, digest, budget)
                    if key not in cache:
                        p = Peer(peer, work, png, pnm, grey, pixels)
                        found = p.largest_within(budget)
                        if found is None:
                            cache[key] = None
                        else:
                            q, size, seconds = found
                            img = p.decode()
                            cache[key] = {"bytes": size, "bpp": 8.0 * size / pixels, "psnr": psnr(original, img),
                                          "ssim": ssim(original, img), "seconds": seconds, "knob": q,
                                          "budget": budget}
                        json.dump(cache, open(cache_path, "w"), indent=0)
                    if cache[key] is not None:
                        results.setdefault(peer, {}).setdefault(pname, []).append(cache[key])

    json.dump(results, open(os.path.join(args.out, "results.json"), "w"), indent=1)
    report(results, variants, peers, pictures, rates)
    if not args.no_plot:
        plot(results, variants, peers, pictures, os.path.join(args.out, "rd.png"))


def report(results, variants, peers, pictures, rates):
    coders = [v for v, _ in variants] + peers
    for metric, fmt in (("psnr", "%6.2f"), ("ssim", "%6.4f")):
        print("\n## %s at each rate (bits per pixel actually used in brackets for zr)\n" % metric.upper())
        print("| picture | bpp | " + " | ".join(coders) + " |")
        print("|---|---|" + "---|" * len(coders))
        for pname in pictures:
            for i, bpp in enumerate(rates):
                cells = []
                for c in coders:
                    pts = results.get(c, {}).get(pname, [])
                    pt = [p for p in pts if abs(p["budget"] - int(bpp * pictures[pname].shape[0]
                                                               * pictures[pname].shape[1] / 8)) <= 0]
                    cells.append(fmt % pt[0][metric] if pt else "-")
                print("| %s | %.2f | %s |" % (pname, bpp, " | ".join(cells)))
    print("\n## Size accuracy of zr variants (bytes / budget)\n")
    for v, _ in variants:
        ratios = [p["bytes"] / p["budget"] for pts in results.get(v, {}).values() for p in pts]
        over = sum(r > 1.0 for r in ratios)
        under = sum(r < 0.99 for r in ratios)
        print("%s: min %.4f max %.4f, %d over, %d more than 1%% under, of %d" %
              (v, min(ratios), max(ratios), over, under, len(ratios)))
    for metric in ("psnr", "ssim"):
        print("\n## Bjontegaard delta rate (%s), %% bytes of each zr variant against each peer "
              "(negative: zr smaller)\n" % metric.upper())
        print("| variant | " + " | ".join(peers) + " |")
        print("|---|" + "---|" * len(peers))
        for v, _ in variants:
            cells = []
            for peer in peers:
                deltas = []
                for pname in pictures:
                    ref = [(p["bpp"], p[metric]) for p in results.get(peer, {}).get(pname, [])]
                    test = [(p["bpp"], p[metric]) for p in results.get(v, {}).get(pname, [])]
                    d = bd_rate(ref, test)
                    if d is not None:
                        deltas.append(d)
                cells.append("%+.1f%% (%d)" % (np.mean(deltas), len(deltas)) if deltas else "-")
            print("| %s | %s |" % (v, " | ".join(cells)))
    for peer in peers:
        print("\n## Bjontegaard delta rate (PSNR) per picture, %% bytes against %s\n" % peer)
        names = [v for v, _ in variants]
        print("| picture | " + " | ".join(names) + " |")
        print("|---|" + "---|" * len(names))
        deltas = {v: {} for v in names}
        for pname in pictures:
            cells = []
            for v in names:
                ref = [(p["bpp"], p["psnr"]) for p in results.get(peer, {}).get(pname, [])]
                test = [(p["bpp"], p["psnr"]) for p in results.get(v, {}).get(pname, [])]
                d = bd_rate(ref, test)
                if d is not None:
                    deltas[v][pname] = d
                cells.append("%+.1f" % d if d is not None else "-")
            print("| %s | %s |" % (pname, " | ".join(cells)))
        for label, wanted in (("mean", None), ("mean generated", False), ("mean photos", True)):
            cells = []
            for v in names:
                ds = [d for n, d in deltas[v].items() if wanted is None or (n in CORPUS) == wanted]
                cells.append("%+.2f%% (%d)" % (np.mean(ds), len(ds)) if ds else "-")
            print("| %s | %s |" % (label, " | ".join(cells)))
    print("\n## Mean CPU seconds per encode (zr: --size search included; peers: one encode)\n")
    for c in coders:
        secs = [p["seconds"] for pts in results.get(c, {}).values() for p in pts]
        if secs:
            print("%-10s %.3f" % (c, np.mean(secs)))


def plot(results, variants, peers, pictures, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    names = list(pictures)
    cols = 4
    rows = (len(names) + cols - 1) // cols
    fig, axes = plt.subplots(rows, cols, figsize=(4.2 * cols, 3.4 * rows), squeeze=False)
    for ax, pname in zip(axes.flat, names):
        for c in [v for v, _ in variants] + peers:
            pts = sorted(results.get(c, {}).get(pname, []), key=lambda p: p["bpp"])
            if pts:
                ax.plot([p["bpp"] for p in pts], [p["psnr"] for p in pts], marker="o", ms=3, label=c,
                        lw=2 if c in dict(variants) else 1)
        ax.set_xscale("log")
        ax.set_title(pname, fontsize=9)
        ax.set_xlabel("bits per pixel", fontsize=8)
        ax.set_ylabel("PSNR dB", fontsize=8)
        ax.grid(True, alpha=0.3)
    for ax in list(axes.flat)[len(names):]:
        ax.axis("off")
    axes.flat[0].legend(fontsize=7)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    print("\nplot: %s" % path)


if __name__ == "__main__":
    main()

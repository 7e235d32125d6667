#!/usr/bin/python3
"""Size accuracy of zrenc --size: every mode and coder combination at several
rates on the rate-distortion benchmark's pictures.

A stream is on target when it takes at most the budget and at least
(1 - tolerance) of it, or of the largest stream the combination gives (step 1,
value cost 0) where that is smaller. Prints every miss (over, or more than
the tolerance under), a count per combination, and the totals; exits 1 when
any stream is over the budget.

usage: bench/size_accuracy.py [--zrenc PATH] [--bpp LIST] [--pictures LIST]
                              [--photos] [--combos LIST] [--tolerance X] [-j N]

  --combos LIST  mode/map/value triples such as p1,1,o0,2 ... written as
                 p1.1,o0.2 (p progressive, o one-pass); default: all that
                 carry detail (map coders 0..2)
Needs Debian's python3-numpy, python3-scipy and python3-pil; run with
/usr/bin/python3.
"""

import argparse
import concurrent.futures
import os
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rd import ROOT, benchmark_pictures, write_picture  # noqa: E402


def all_combos():
    combos = []
    for mode in ("o", "p"):
        for m in range(3):
            for v in range(4):
                if mode == "p" and m == 2 and v == 0:
                    continue   # decoders refuse it
                combos.append("%s%d.%d" % (mode, m, v))
    return combos


def combo_args(combo):
    mode = "one-pass" if combo[0] == "o" else "progressive"
    m, v = combo[1:].split(".")
    return ["--mode", mode, "--map-coder", m, "--value-coder", v]


def encode(zrenc, src, out, combo, budget):
    target = ["--step", "1", "--value-cost", "0"] if budget is None else ["--size", str(budget)]
    cmd = [zrenc, "--quiet"] + combo_args(combo) + target + [src, out]
    run = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if run.returncode != 0:
        return None, run.stderr.strip()
    return os.path.getsize(out), ""


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--zrenc", default=os.path.join(ROOT, "build/tools/zrenc"))
    ap.add_argument("--bpp", default="0.25,0.5,1,2")
    ap.add_argument("--pictures", default="", help="comma-separated names (generated or corpus)")
    ap.add_argument("--photos", action="store_true", help="only the corpus-local photographs")
    ap.add_argument("--combos", default="")
    ap.add_argument("--tolerance", type=float, default=0.01)
    ap.add_argument("-j", "--jobs", type=int, default=1)
    args = ap.parse_args()

    rates = [float(b) for b in args.bpp.split(",")]
    combos = args.combos.split(",") if args.combos else all_combos()
    pictures = benchmark_pictures(args.photos, args.pictures)

    misses = {c: 0 for c in combos}
    over = failed = total = 0
    with tempfile.TemporaryDirectory(prefix="zr-size-") as work, \
            concurrent.futures.ThreadPoolExecutor(max(1, args.jobs)) as pool:
        jobs = []
        largest = {}
        for pname, original in pictures.items():
            src = os.path.join(work, pname + ".png")
            write_picture(original, src)
            pixels = original.shape[0] * original.shape[1]
            for combo in combos:
                out = os.path.join(work, "%s-largest-%s.zr" % (pname, combo))
                largest[pname, combo] = pool.submit(encode, args.zrenc, src, out, combo, None)
            for bpp in rates:
                budget = int(bpp * pixels / 8)
                for combo in combos:
                    out = os.path.join(work, "%s-%g-%s.zr" % (pname, bpp, combo))
                    jobs.append((pname, bpp, combo, budget, pool.submit(encode, args.zrenc, src, out, combo, budget)))
        for pname, bpp, combo, budget, job in jobs:
            size, message = job.result()
            total += 1
            if size is None:
                failed += 1
                misses[combo] += 1
                print("%-12s %5g bpp %-5s budget %8d: failed: %s" % (pname, bpp, combo, budget, message))
                continue
            ceiling = largest[pname, combo].result()[0] or budget
            short = 1.0 - size / min(budget, ceiling)
            if size > budget or short > args.tolerance:
                misses[combo] += 1
                over += size > budget
                print("%-12s %5g bpp %-5s budget %8d: %8d bytes (%+.1f%%%s)"
                      % (pname, bpp, combo, budget, size, -100.0 * short,
                         ", largest %d" % ceiling if ceiling < budget else ""))
    print("misses per combination: " + " ".join("%s:%d" % (c, n) for c, n in misses.items() if n))
    print("%d encodes, %d more than %g%% under or failed (%d failed), %d over the budget"
          % (total, sum(misses.values()), 100 * args.tolerance, failed, over))
    return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main())

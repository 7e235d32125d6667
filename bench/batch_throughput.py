#!/usr/bin/python3
"""Files per second of the zr batch converter (ZR to PNG) on one core, on
all cores, and on a Dask LocalCluster of 2 single-thread workers.

    PYTHONPATH=build/prefix/lib/python3.11/dist-packages \\
        bench/batch_throughput.py [--files 500] [--size 64] [--runs 3]

Install the package first (cmake --install build --component python
--prefix build/prefix). Prints the best of --runs for each way; the cluster's
start-up is timed apart from the conversion."""
import argparse
import contextlib
import io
import os
import tempfile
import time
from pathlib import Path

import numpy

import zr
from zr import batch


def make_files(root, count, size):
    """count streams in nested folders: colour and grey, both modes."""
    rng = numpy.random.default_rng(18)
    streams = []
    for k in range(16):
        shape = (size, size, 3) if k % 2 else (size, size)
        gradient = numpy.add.outer(numpy.arange(size), numpy.arange(size)) * (255 // max(1, 2 * size - 2))
        picture = gradient.reshape(size, size, *([1] * (len(shape) - 2))) + rng.integers(0, 40, shape)
        streams.append(zr.encode(numpy.clip(picture, 0, 255).astype(numpy.uint8), step=1 + k % 9,
                                 mode="one-pass" if k % 3 else "progressive"))
    for i in range(count):
        path = root / ("set%d" % (i % 7)) / ("p%04d.zr" % i)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(streams[i % len(streams)])


def files_per_second(source, dest, arguments, runs):
    best = 0.0
    for _ in range(runs):
        with contextlib.redirect_stdout(io.StringIO()):
            start = time.monotonic()
            status = batch.main([str(source), str(dest), "-q"] + arguments)
            seconds = time.monotonic() - start
        if status != 0:
            raise SystemExit("the batch converter failed: status %d" % status)
        best = max(best, count_files(source) / seconds)
    return best


def count_files(source):
    return sum(len(names) for _, _, names in os.walk(source))


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--files", type=int, default=500)
    p.add_argument("--size", type=int, default=64, help="pictures of SIZE x SIZE pixels")
    p.add_argument("--runs", type=int, default=3)
    args = p.parse_args()
    with tempfile.TemporaryDirectory() as work:
        source, dest = Path(work) / "in", Path(work) / "out"
        make_files(source, args.files, args.size)
        cores = os.cpu_count() or 1
        print("%d files of %dx%d, best of %d runs" % (args.files, args.size, args.size, args.runs))
        print("one core (-j 1): %.0f files/s" % files_per_second(source, dest, ["-j", "1"], args.runs))
        print("all cores (-j %d): %.0f files/s" % (cores, files_per_second(source, dest, ["-j", str(cores)],
                                                                          args.runs)))
        import distributed

        start = time.monotonic()
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                      dashboard_address=None) as cluster:
            started = time.monotonic() - start
            rate = files_per_second(source, dest, ["--scheduler", cluster.scheduler_address], args.runs)
        print("LocalCluster, 2 workers: %.0f files/s (cluster start %.1f s, not counted)" % (rate, started))


if __name__ == "__main__":
    main()

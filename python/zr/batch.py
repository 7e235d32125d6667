"""Batch conversion of folder trees between ZR and PNG.

    zr [options] SOURCE DEST

Converts every .zr file under SOURCE into a PNG under DEST (same relative
path), or with --to zr every PNG into a ZR stream, on all local cores or on a
Dask cluster (--scheduler ADDRESS). One bad file never stops the batch; each
output is written under a temporary name and renamed when whole.
"""
import argparse
import concurrent.futures
import os
import sys
import time
import uuid

EXTENSIONS = {"png": ".zr", "zr": ".png"}  # target format -> source extension
# Options taken as flags rather than with a value.
FLAG_OPTIONS = {"sharpen"}


def find_tasks(source, dest, to):
    """(input, output) pairs for every file of the source extension."""
    extension = EXTENSIONS[to]
    if os.path.isfile(source):
        name = os.path.splitext(os.path.basename(source))[0] + "." + to
        target = os.path.join(dest, name) if os.path.isdir(dest) else dest
        return [(source, target)]
    tasks = []
    for folder, folders, files in os.walk(source):
        folders.sort()
        for name in sorted(files):
            if name.lower().endswith(extension) and not name.startswith("."):
                relative = os.path.relpath(os.path.join(folder, name), source)
                tasks.append((os.path.join(folder, name),
                              os.path.join(dest, os.path.splitext(relative)[0] + "." + to)))
    return tasks


def _write_whole(path, write):
    """Calls write(temporary path), then renames the result to path."""
    folder = os.path.dirname(path) or "."
    os.makedirs(folder, exist_ok=True)
    temporary = os.path.join(folder, ".%s.%s.part" % (os.path.basename(path), uuid.uuid4().hex))
    try:
        write(temporary)
        os.replace(temporary, path)
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)


def _to_png(source, target, options):
    from PIL import Image

    import zr

    with open(source, "rb") as f:
        pixels = zr.decode(f.read(), **options)
    if pixels.dtype.itemsize == 2:
        image = Image.frombytes("I;16", (pixels.shape[1], pixels.shape[0]), pixels.astype("<u2").tobytes())
    else:
        image = Image.fromarray(pixels)
    _write_whole(target, lambda path: image.save(path, format="PNG"))


def _to_zr(source, target, options):
    from PIL import Image

    import zr
    from zr.pillow import _array

    with Image.open(source) as image:
        image.load()
        stream = zr.encode(_array(image), **options)

    def write(path):
        with open(path, "wb") as f:
            f.write(stream)

    _write_whole(target, write)


def convert_one(source, target, to, options):
    """Converts one file; returns None, or the reason it failed (one line)."""
    try:
        (_to_png if to == "png" else _to_zr)(source, target, options)
        return None
    except Exception as error:  # one bad file must not stop the batch
        text = str(error).strip().splitlines()
        return text[0] if text else type(error).__name__


class Progress:
    """A bar on a terminal, a line every tenth of the work elsewhere."""

    def __init__(self, total, stream, quiet):
        self.total, self.stream, self.quiet = total, stream, quiet
        self.done = self.failed = 0
        self.terminal = stream.isatty()
        self.last_tenth = -1

    def step(self, failed):
        self.done += 1
        self.failed += bool(failed)
        if self.quiet:
            return
        line = "%d/%d files, %d failed" % (self.done, self.total, self.failed)
        if self.terminal:
            width = 30
            filled = width * self.done // max(self.total, 1)
            self.stream.write("\r[%s%s] %s" % ("#" * filled, " " * (width - filled), line))
            if self.done == self.total:
                self.stream.write("\n")
        else:
            tenth = 10 * self.done // max(self.total, 1)
            if tenth != self.last_tenth:
                self.last_tenth = tenth
                self.stream.write(line + "\n")
        self.stream.flush()


def run_local(tasks, to, options, jobs, progress):
    failures = {}
    with concurrent.futures.ProcessPoolExecutor(max_workers=jobs) as pool:
        futures = {pool.submit(convert_one, s, t, to, options): s for s, t in tasks}
        for future in concurrent.futures.as_completed(futures):
            reason = future.result()
            if reason:
                failures[futures[future]] = reason
            progress.step(reason)
    return failures


def convert_batch(pairs, to, options):
    """Converts a list of (input, output) pairs; returns [(input, reason)]."""
    return [(source, convert_one(source, target, to, options)) for source, target in pairs]


def run_cluster(tasks, to, options, address, progress, batch_size=16):
    from distributed import Client, as_completed

    failures = {}
    with Client(address) as client:
        # Small batches keep the scheduler's cost per file low while still
        # spreading the work over every worker.
        batches = [tasks[i:i + batch_size] for i in range(0, len(tasks), batch_size)]
        futures = client.map(convert_batch, batches, to=to, options=options, pure=False)
        pending = {future.key: batch for future, batch in zip(futures, batches)}
        for future, results in as_completed(futures, with_results=True, raise_errors=False):
            if isinstance(results, BaseException) or future.status != "finished":
                # a worker lost, for instance: every file of the batch failed
                results = [(source, "not converted: %s" % results) for source, _ in pending[future.key]]
            for source, reason in results:
                if reason:
                    failures[source] = reason
                progress.step(reason)
            future.release()
    return failures


def _option_value(text):
    if "," in text:
        return tuple(int(part) for part in text.split(","))
    for kind in (int, float):
        try:
            return kind(text)
        except ValueError:
            pass
    return text


def parser():
    import zr

    p = argparse.ArgumentParser(
        prog="zr", description="Converts folder trees between ZR and PNG, in parallel.",
        epilog="Failed files are listed at the end; the exit status is 1 when any failed.")
    p.add_argument("source", help="a folder (searched recursively) or one file")
    p.add_argument("dest", help="the folder for the results (made when missing)")
    p.add_argument("--to", choices=["png", "zr"], default="png",
                   help="png: decode every .zr file (default); zr: encode every .png file")
    p.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1,
                   help="local worker processes (default: all cores)")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="run on the Dask cluster of this scheduler (tcp://host:8786) instead")
    p.add_argument("-q", "--quiet", action="store_true", help="no progress bar")
    decoding = p.add_argument_group("decoding (--to png)")
    decoding.add_argument("--exact", action="store_true", help="dequantise with exact sub-steps")
    decoding.add_argument("--low-memory", action="store_true", help="low-memory decoding")
    decoding.add_argument("--sharpen-decode", action="store_true", help="sharpen before the last level")
    encoding = p.add_argument_group("encoding (--to zr), as zrenc's options")
    for name in zr.ENCODE_OPTIONS:
        flag = "--" + name.replace("_", "-")
        if name in FLAG_OPTIONS:
            encoding.add_argument(flag, dest="encode_" + name, action="store_true", default=None)
        else:
            encoding.add_argument(flag, dest="encode_" + name, type=_option_value, metavar="VALUE")
    return p


def main(argv=None):
    args = parser().parse_args(argv)
    if args.jobs < 1:
        print("zr: --jobs takes a number from 1 up", file=sys.stderr)
        return 2
    if args.to == "png":
        options = {"exact": args.exact, "low_memory": args.low_memory, "sharpen": args.sharpen_decode}
    else:
        options = {name[len("encode_"):]: value for name, value in vars(args).items()
                   if name.startswith("encode_") and value is not None}
        import numpy

        import zr
        try:  # refuse bad options once, not once per file
            zr.encode(numpy.zeros((8, 8), numpy.uint8), **options)
        except ValueError as error:
            if "size" not in options and "bpp" not in options:
                print("zr: %s" % error, file=sys.stderr)
                return 2
    if not os.path.exists(args.source):
        print("zr: %s: no such file or folder" % args.source, file=sys.stderr)
        return 2
    tasks = find_tasks(args.source, args.dest, args.to)
    if not tasks:
        print("zr: no %s files under %s" % (EXTENSIONS[args.to], args.source), file=sys.stderr)
        return 1
    progress = Progress(len(tasks), sys.stderr, args.quiet)
    start = time.monotonic()
    if args.scheduler:
        failures = run_cluster(tasks, args.to, options, args.scheduler, progress)
    else:
        failures = run_local(tasks, args.to, options, args.jobs, progress)
    seconds = time.monotonic() - start
    converted = len(tasks) - len(failures)
    print("%d converted, %d failed, %.1f files per second" %
          (converted, len(failures), len(tasks) / max(seconds, 1e-9)))
    for source in sorted(failures):
        print("failed: %s: %s" % (source, failures[source]))
    return 1 if failures else 0

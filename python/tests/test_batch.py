import os
import subprocess
import sys

import numpy
import pytest
from conftest import as_block, test_picture, tool
from PIL import Image

import zr
from zr import batch

CORRUPT = [b"", b"not a picture at all", b"ZR\x01\x00\x01\x00\x10\x00", b"ZR\x02\x01"]


def make_tree(root, count, corrupt_every, distinct=45):
    """count small streams in nested folders, every corrupt_every-th refused;
    the good ones repeat `distinct` pictures, so that zrdec checks each once."""
    good, bad = [], []
    streams = {}
    for i in range(count):
        path = root / ("set%d" % (i % 7)) / ("sub%d" % (i % 3)) / ("p%03d.zr" % i)
        path.parent.mkdir(parents=True, exist_ok=True)
        if i % corrupt_every == corrupt_every - 1:
            path.write_bytes(CORRUPT[i % len(CORRUPT)])
            bad.append(path)
        else:
            k = i % distinct
            if k not in streams:
                picture = test_picture(12 + k % 5, 16 + k % 4, 3 if k % 2 else 1, seed=k)
                streams[k] = zr.encode(picture, step=1 + k % 9, mode="one-pass" if k % 3 else "progressive")
            path.write_bytes(streams[k])
            good.append(path)
    return good, bad


def check_results(source, dest, good, bad, output, tmp_path):
    references = {}
    for path in good:
        stream = path.read_bytes()
        if stream not in references:
            expected = tmp_path / ("zrdec-%d.png" % len(references))
            assert tool("zrdec", path, expected).returncode == 0
            with Image.open(expected) as reference:
                references[stream] = (reference.mode, reference.tobytes())
        with Image.open(dest / path.relative_to(source).with_suffix(".png")) as made:
            assert (made.mode, made.tobytes()) == references[stream]
    for path in bad:
        assert not (dest / path.relative_to(source).with_suffix(".png")).exists()
        assert "failed: %s: " % path in output
    leftovers = [name for _, _, files in os.walk(dest) for name in files if name.endswith(".part")]
    assert leftovers == []
    assert "%d converted, %d failed" % (len(good), len(bad)) in output


def test_dask_cluster(tmp_path, capsys):
    distributed = pytest.importorskip("distributed")
    source, dest = tmp_path / "in", tmp_path / "out"
    good, bad = make_tree(source, 500, 10)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        status = batch.main([str(source), str(dest), "--scheduler", cluster.scheduler_address])
    output = capsys.readouterr().out
    assert status == 1
    check_results(source, dest, good, bad, output, tmp_path)


def test_local_cores_and_encoding(tmp_path, capsys):
    source, dest = tmp_path / "in", tmp_path / "out"
    good, bad = make_tree(source, 30, 6)
    assert batch.main([str(source), str(dest), "-q"]) == 1
    check_results(source, dest, good, bad, capsys.readouterr().out, tmp_path)

    # PNG back to ZR with zrenc's options, equal to zr.encode's stream
    again = tmp_path / "again"
    assert batch.main([str(dest), str(again), "--to", "zr", "--step", "3", "--mode", "one-pass", "-j", "1"]) == 0
    for path in good:
        png = dest / path.relative_to(source).with_suffix(".png")
        with Image.open(png) as image:
            expected = zr.encode(numpy.asarray(image), step=3, mode="one-pass")
        assert (again / path.relative_to(source)).read_bytes() == expected


def test_overwrite_keeps_old_file_on_failure(tmp_path, capsys):
    (tmp_path / "in").mkdir()
    (tmp_path / "in" / "a.zr").write_bytes(b"ZR\x09")
    (tmp_path / "out").mkdir()
    (tmp_path / "out" / "a.png").write_bytes(b"earlier result")
    assert batch.main([str(tmp_path / "in"), str(tmp_path / "out"), "-q"]) == 1
    assert (tmp_path / "out" / "a.png").read_bytes() == b"earlier result"
    printed = capsys.readouterr().out
    assert "a.zr: " in printed and "unsupported version 9" in printed


def test_command_line(tmp_path):
    command = [os.path.join(os.environ["ZR_PREFIX"], "bin", "zr")] if "ZR_PREFIX" in os.environ \
        else [sys.executable, "-m", "zr"]
    done = subprocess.run(command + ["--help"], capture_output=True, text=True)
    assert done.returncode == 0 and "--scheduler" in done.stdout and "--value-coder" in done.stdout
    stream = zr.encode(test_picture(20, 20, 3))
    (tmp_path / "one.zr").write_bytes(stream)
    done = subprocess.run(command + [str(tmp_path / "one.zr"), str(tmp_path)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    with Image.open(tmp_path / "one.png") as image:
        assert image.tobytes() == as_block(zr.decode(stream))
    for arguments, message in [(["--step", "0", "--to", "zr"], "step"), (["-j", "0"], "jobs"),
                               ([], "no such file")]:
        done = subprocess.run(command + arguments + [str(tmp_path / "missing"), str(tmp_path)],
                              capture_output=True, text=True)
        assert done.returncode == 2 and message in done.stderr

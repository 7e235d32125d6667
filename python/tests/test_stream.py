import random

import numpy
import pytest
from conftest import SAMPLES, as_block, sample, tool

import zr


def zrdec_frames(name, interval, tmp_path):
    """zrdec --frames-every's partial pictures: (position, rows, columns, block)."""
    folder = tmp_path / "frames"
    done = tool("zrdec", "--raw", "--frames-every", interval, folder, f"{SAMPLES}/{name}",
                tmp_path / "final.raw")
    if "one-pass" in name:
        # A one-pass stream has no partial pictures: zrdec refuses --frames-every.
        assert done.returncode == 1 and "one-pass" in done.stderr, done.stderr
        done = tool("zrdec", "--raw", f"{SAMPLES}/{name}", tmp_path / "final.raw")
        assert done.returncode == 0, done.stderr
        return [], (tmp_path / "final.raw").read_bytes()
    assert done.returncode == 0, done.stderr
    frames = []
    for line in (folder / "index.txt").read_text().split("\n"):
        if line:
            k, position, rows, columns = map(int, line.split())
            frames.append((position, rows, columns, (folder / f"frame-{k:04d}.raw").read_bytes()))
    return frames, (tmp_path / "final.raw").read_bytes()


def chunked(data, sizes):
    i = 0
    while i < len(data):
        n = sizes()
        yield data[i:i + n]
        i += n


@pytest.mark.parametrize("name,interval", [("astronaut-progressive.zr", 4096), ("astronaut-progressive.zr", 1000),
                                           ("gradient-progressive.zr", 7), ("camera-one-pass.zr", 4096)])
@pytest.mark.parametrize("chunks", ["one byte", "random", "whole"])
def test_partials_equal_zrdec_frames(name, interval, chunks, tmp_path):
    stream = sample(name)
    expected, final = zrdec_frames(name, interval, tmp_path)
    rng = random.Random(interval)
    sizes = {"one byte": lambda: 1, "random": lambda: rng.randint(0, 3000), "whole": lambda: len(stream)}[chunks]
    got = list(zr.decode_stream(chunked(stream, sizes), interval))
    assert got[-1].final and as_block(got[-1].pixels) == final and got[-1].position == len(stream)
    partials = got[:-1]
    assert [(p.position, p.pixels.shape[0], p.pixels.shape[1]) for p in partials] == \
        [(position, rows, columns) for position, rows, columns, _ in expected]
    for p, (_, _, _, block) in zip(partials, expected):
        assert not p.final and as_block(p.pixels) == block
    if name.endswith("progressive.zr") and interval == 1000:
        assert len({p.pixels.shape for p in partials}) >= 3  # coarse stages before the end


def test_header_and_refusal():
    stream = sample("camera-one-pass.zr")
    with zr.StreamDecoder(0) as decoder:
        assert decoder.header is None
        assert decoder.feed(stream[:40]) == []
        assert decoder.header == {"height": 256, "width": 256, "channels": 1, "bits_per_sample": 8}
        decoder.feed(stream[40:])
        partials, final = decoder.finish()
        assert partials == [] and numpy.array_equal(final, zr.decode(stream))
        with pytest.raises(ValueError, match="finished"):
            decoder.feed(b"x")
    with zr.StreamDecoder(100) as decoder:
        with pytest.raises(zr.ZrError, match="version 7") as raised:
            decoder.feed(b"ZR\x07" + stream[3:])
        assert raised.value.status == 2
    with zr.StreamDecoder(100) as decoder:
        decoder.feed(b"ZR\x02")
        with pytest.raises(zr.ZrError, match="ends inside the header"):
            decoder.finish()
    with pytest.raises(ValueError, match="interval"):
        zr.StreamDecoder(-1)

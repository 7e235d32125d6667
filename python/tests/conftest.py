import os
import subprocess

import numpy
import pytest

TOOLS = os.environ.get("ZR_TOOLS", os.path.join(os.path.dirname(__file__), "..", "..", "build", "tools"))
SAMPLES = os.environ.get("ZR_SAMPLES", os.path.join(os.path.dirname(__file__), "..", "..", "samples"))


def tool(name, *args):
    """Runs a built tool; returns its completed process (output captured)."""
    return subprocess.run([os.path.join(TOOLS, name)] + [str(a) for a in args],
                          capture_output=True, text=True, check=False)


def sample(name):
    with open(os.path.join(SAMPLES, name), "rb") as f:
        return f.read()


def zrdec_raw(stream, tmp_path, *options):
    """zrdec's pixel block for a stream, as bytes."""
    source, target = tmp_path / "in.zr", tmp_path / "out.raw"
    source.write_bytes(stream)
    done = tool("zrdec", "--raw", *options, source, target)
    assert done.returncode == 0, done.stderr
    return target.read_bytes()


def as_block(pixels):
    """An array from zr.decode in the decoder's pixel block layout."""
    if pixels.dtype == numpy.uint16:
        return pixels.astype("<u2").tobytes()
    return pixels.tobytes()


def test_picture(height, width, channels, top=255, seed=0):
    """A smooth picture with some texture, so every coder has work."""
    rows, columns = numpy.mgrid[0:height, 0:width]
    rng = numpy.random.default_rng(seed)
    planes = []
    for c in range(channels):
        wave = (numpy.sin(rows / (5.0 + 3 * c)) + numpy.cos(columns / (7.0 + c))) * 0.25 + 0.5
        noise = rng.normal(0.0, 0.03, (height, width))
        planes.append(numpy.clip(wave + noise, 0.0, 1.0) * top)
    picture = numpy.stack(planes, axis=-1) if channels == 3 else planes[0]
    return numpy.rint(picture).astype(numpy.uint16 if top > 255 else numpy.uint8)


test_picture.__test__ = False


@pytest.fixture
def picture():
    return test_picture

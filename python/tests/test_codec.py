import numpy
import pytest
from conftest import as_block, sample, test_picture, tool, zrdec_raw
from PIL import Image

import zr

SAMPLES = ["astronaut-progressive.zr", "camera-one-pass.zr", "gradient-progressive.zr"]


@pytest.mark.parametrize("name", SAMPLES)
@pytest.mark.parametrize("request_options", [{}, {"exact": True}, {"low_memory": True}, {"sharpen": True}])
def test_decode_equals_zrdec(name, request_options, tmp_path):
    flags = {"exact": "--exact", "low_memory": "--half", "sharpen": "--sharpen"}
    stream = sample(name)
    pixels = zr.decode(stream, **request_options)
    expected = zrdec_raw(stream, tmp_path, *[flags[k] for k in request_options])
    assert as_block(pixels) == expected
    header = zr.info(stream)
    assert pixels.shape[:2] == (header["height"], header["width"])
    assert pixels.ndim == (3 if header["channels"] == 3 else 2)


def write_png(path, pixels):
    if pixels.dtype == numpy.uint16:
        Image.frombytes("I;16", pixels.shape[::-1], pixels.astype("<u2").tobytes()).save(path)
    else:
        Image.fromarray(pixels).save(path)


# zr.encode keywords against zrenc's command line.
ENCODINGS = [
    ({}, []),
    ({"mode": "one-pass", "map_coder": 2, "value_coder": 3, "step": 2},
     ["--mode", "one-pass", "--map-coder", "2", "--value-coder", "3", "--step", "2"]),
    ({"value_coder": 2}, ["--value-coder", "2"]),  # fine steps chosen as zrenc does
    ({"fine_steps": 2, "boost": 8, "stretch": 1, "trailer": (1, 2, 3)},
     ["--fine-steps", "2", "--boost", "8", "--stretch", "1", "--trailer", "1,2,3"]),
    ({"sharpen": True, "value_cost": 1.5}, ["--sharpen", "--value-cost", "1.5"]),
    ({"size": 1500}, ["--size", "1500"]),
    ({"quality": 90}, ["-q", "90"]),  # the step scales with a deeper grey's range
    ({"size": 1500, "effort": 2, "threads": 1}, ["--size", "1500", "--effort", "2", "-j", "1"]),
    ({"bpp": 0.5, "mode": "one-pass"}, ["--bpp", "0.5", "--mode", "one-pass"]),
]


@pytest.mark.parametrize("options,arguments", ENCODINGS)
@pytest.mark.parametrize("kind", ["colour", "grey", "grey16"])
def test_encode_equals_zrenc(options, arguments, kind, tmp_path):
    pixels = {"colour": lambda: test_picture(40, 56, 3),
              "grey": lambda: test_picture(40, 56, 1, seed=1),
              "grey16": lambda: test_picture(40, 56, 1, top=65535, seed=2)}[kind]()
    write_png(tmp_path / "in.png", pixels)
    done = tool("zrenc", *arguments, tmp_path / "in.png", tmp_path / "out.zr")
    assert done.returncode == 0, done.stderr
    stream = zr.encode(pixels, **options)
    assert stream == (tmp_path / "out.zr").read_bytes()
    # and back: the decoder reads what was written (zrdec would sharpen a
    # stream marked for sharpening by itself; zr.decode does what it is asked)
    assert as_block(zr.decode(stream)) == zrdec_raw(stream, tmp_path, "--no-sharpen")


def test_encode_deeper_grey(tmp_path):
    # uint8 rescaled to a deeper stream as zrenc does; uint16 taken as is at `bits`
    pixels = test_picture(32, 32, 1)
    write_png(tmp_path / "in.png", pixels)
    assert tool("zrenc", "--bits", "12", tmp_path / "in.png", tmp_path / "out.zr").returncode == 0
    assert zr.encode(pixels, bits=12) == (tmp_path / "out.zr").read_bytes()
    ten = test_picture(32, 32, 1, top=1023)
    decoded = zr.decode(zr.encode(ten, bits=10, step=1, mode="one-pass", map_coder=0, value_coder=1))
    assert decoded.dtype == numpy.uint16 and zr.info(zr.encode(ten, bits=10))["bits_per_sample"] == 10
    assert numpy.abs(decoded.astype(int) - ten.astype(int)).max() <= 2


def version(stream, v):
    return stream[:2] + bytes([v]) + stream[3:]


@pytest.mark.parametrize("data,status,message", [
    (b"", 1, "the data ends inside the header"),
    (b"PNG not a stream", 1, "not a ZR stream"),
    (sample("camera-one-pass.zr")[:4], None, "the data ends inside the header"),
    (version(sample("camera-one-pass.zr"), 1), 2, "version 1"),
])
def test_refused_streams(data, status, message):
    for call in (zr.decode, zr.info):
        with pytest.raises(zr.ZrError, match=message) as raised:
            call(data)
        assert isinstance(raised.value, ValueError)
        if status is not None:
            assert raised.value.status == status


def test_truncated_body_is_a_picture():
    stream = sample("astronaut-progressive.zr")
    assert zr.decode(stream[:3000]).shape == (256, 256, 3)


@pytest.mark.parametrize("pixels,options,message", [
    (numpy.zeros((16, 16), numpy.float32), {}, "uint8"),
    (numpy.zeros((16, 16, 4), numpy.uint8), {}, "rows x columns"),
    (numpy.zeros((16, 16, 3), numpy.uint16), {}, "8 bits"),
    (numpy.zeros((16, 16, 3), numpy.uint8), {"bits": 12}, "8 bits"),
    (numpy.full((16, 16), 5000, numpy.uint16), {"bits": 12}, "does not fit"),
    (numpy.zeros((16, 16), numpy.uint8), {"bogus": 1}, "unknown option"),
    (numpy.zeros((16, 16), numpy.uint8), {"step": 0}, "step"),
    (numpy.zeros((16, 16), numpy.uint8), {"mode": "fast"}, "mode"),
    (numpy.zeros((16, 16), numpy.uint8), {"trailer": (1, 2)}, "trailer"),
    (numpy.zeros((16, 16), numpy.uint8), {"size": 100, "bpp": 1.0}, "not both"),
    (numpy.zeros((16, 16), numpy.uint8), {"quality": 80, "step": 3}, "quality or step"),
    (numpy.zeros((16, 16), numpy.uint8), {"quality": 101}, "quality takes a whole number from 0 to 100"),
    (numpy.zeros((16, 16), numpy.uint8), {"sharpen": True, "trailer": (1, 2, 3)}, "trailer"),
    (numpy.zeros((16, 16), numpy.uint8), {"map_coder": 2, "value_coder": 0}, ""),
    (numpy.zeros((3, 16), numpy.uint8), {}, ""),
])
def test_encode_refuses(pixels, options, message):
    with pytest.raises(ValueError, match=message):
        zr.encode(pixels, **options)


def test_encode_takes_strided_views():
    pixels = test_picture(32, 48, 3)
    assert zr.encode(pixels[:, ::-1]) == zr.encode(numpy.ascontiguousarray(pixels[:, ::-1]))

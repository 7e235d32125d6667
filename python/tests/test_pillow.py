import io

import numpy
import pytest
from conftest import SAMPLES, sample, test_picture, tool
from PIL import Image

import zr


@pytest.mark.parametrize("name,mode", [("astronaut-progressive.zr", "RGB"), ("camera-one-pass.zr", "L")])
def test_open(name, mode):
    with Image.open(f"{SAMPLES}/{name}") as image:
        assert image.format == "ZR" and image.mode == mode
        assert image.size == (256, 256)
        assert numpy.array_equal(numpy.asarray(image), zr.decode(sample(name)))
    assert Image.MIME["ZR"] == "image/x-zr"


def test_open_deep_grey():
    pixels = test_picture(24, 40, 1, top=4095)
    stream = zr.encode(pixels, bits=12)
    with Image.open(io.BytesIO(stream)) as image:
        assert image.mode == "I;16" and image.size == (40, 24)
        assert numpy.array_equal(numpy.asarray(image).astype(numpy.uint16), zr.decode(stream))


@pytest.mark.parametrize("options", [{}, {"step": 2, "mode": "one-pass"}, {"size": 900}])
@pytest.mark.parametrize("mode", ["RGB", "L", "I;16", "P", "RGBA"])
def test_save_equals_encode(options, mode, tmp_path):
    colour = test_picture(32, 48, 3)
    image = {"RGB": lambda: Image.fromarray(colour),
             "L": lambda: Image.fromarray(test_picture(32, 48, 1)),
             "I;16": lambda: Image.frombytes("I;16", (48, 32), test_picture(32, 48, 1, top=65535).tobytes()),
             "P": lambda: Image.fromarray(colour).quantize(64),
             "RGBA": lambda: Image.fromarray(colour).convert("RGBA")}[mode]()
    image.save(tmp_path / "out.zr", quality_is_ignored=1, **options)
    expected = {"RGB": "RGB", "L": "L", "I;16": "I;16", "P": "RGB", "RGBA": "RGB"}[mode]
    if expected == "I;16":
        pixels = numpy.asarray(image.convert("I")).astype(numpy.uint16)
    else:
        pixels = numpy.asarray(image.convert(expected))
    assert (tmp_path / "out.zr").read_bytes() == zr.encode(pixels, **options)
    with Image.open(tmp_path / "out.zr") as back:
        assert back.mode == expected and back.size == (48, 32)


def test_save_quality_as_zrenc(tmp_path):
    image = Image.fromarray(test_picture(32, 48, 3))
    sizes = []
    for quality in (20, 75, 100):
        image.save(tmp_path / "q.zr", quality=quality)
        saved = (tmp_path / "q.zr").read_bytes()
        image.save(tmp_path / "in.png")
        done = tool("zrenc", "-q", quality, tmp_path / "in.png", tmp_path / "zrenc.zr")
        assert done.returncode == 0, done.stderr
        assert saved == (tmp_path / "zrenc.zr").read_bytes()
        sizes.append(len(saved))
    assert sizes == sorted(sizes) and sizes[0] < sizes[-1]  # higher is larger (and better)
    image.save(tmp_path / "q75.zr", quality=75)
    assert (tmp_path / "q75.zr").read_bytes() == zr.encode(numpy.asarray(image), step=4)  # 75 is step 4


def test_save_refuses_bad_options(tmp_path):
    with pytest.raises(ValueError, match="step"):
        Image.fromarray(test_picture(16, 16, 1)).save(tmp_path / "bad.zr", step=0)


def test_bad_files(tmp_path):
    (tmp_path / "v1.zr").write_bytes(b"ZR\x01" + sample("camera-one-pass.zr")[3:])
    with pytest.raises(Image.UnidentifiedImageError):
        Image.open(tmp_path / "v1.zr")
    (tmp_path / "short.zr").write_bytes(b"ZR\x02\x01")
    with pytest.raises(Image.UnidentifiedImageError):
        Image.open(tmp_path / "short.zr")

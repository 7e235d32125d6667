"""Pillow plug-in: Image.open("x.zr") and image.save("x.zr", quality=..., size=...)
with any of zr.encode's options (quality as zrenc -q: 0..100, higher is better)."""
import numpy
from PIL import Image, ImageFile

from ._zr import ENCODE_OPTIONS, ZrError, decode, encode, info

FORMAT = "ZR"
# The header with its longest unary fields fits in far fewer bytes.
HEADER_BYTES = 256


def _accept(prefix):
    return prefix[:2] == b"ZR"


def _modes(header):
    """Pillow's mode and raw mode for a stream's pixel format."""
    if header["channels"] == 3:
        return "RGB", "RGB"
    if header["bits_per_sample"] > 8:
        return "I;16", "I;16"
    return "L", "L"


class ZrImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "ZR wavelet picture"

    def _open(self):
        try:
            header = info(self.fp.read(HEADER_BYTES))
        except ZrError as error:
            raise SyntaxError(str(error)) from error
        self.mode, rawmode = _modes(header)
        self._size = (header["width"], header["height"])
        self.info["zr"] = header
        self.tile = [("zr", (0, 0) + self.size, 0, (rawmode,))]


class ZrDecoder(ImageFile.PyDecoder):
    _pulls_fd = True

    def decode(self, buffer):
        (rawmode,) = self.args
        try:
            pixels = decode(self.fd.read())
        except ZrError as error:
            raise OSError(str(error)) from error
        if pixels.dtype == numpy.uint16:
            pixels = pixels.astype("<u2")
        self.set_as_raw(pixels.tobytes(), rawmode)
        return -1, 0


def _array(image):
    """The picture as an array zr.encode takes, and the stream depth."""
    if image.mode in ("I;16", "I;16L", "I;16B", "I"):
        samples = numpy.asarray(image.convert("I")) if image.mode != "I" else numpy.asarray(image)
        if samples.min() < 0 or samples.max() > 65535:
            raise ValueError("ZR grey samples must lie in 0..65535")
        return samples.astype(numpy.uint16)
    if image.mode in ("L", "1", "LA", "P") and not (image.mode == "P" and "transparency" in image.info) \
            and (image.mode != "P" or image.palette.mode == "L"):
        return numpy.asarray(image.convert("L"))
    return numpy.asarray(image.convert("RGB"))


def _save(image, fp, filename):
    options = {name: value for name, value in image.encoderinfo.items() if name in ENCODE_OPTIONS}
    fp.write(encode(_array(image), **options))


Image.register_open(FORMAT, ZrImageFile, _accept)
Image.register_save(FORMAT, _save)
Image.register_extension(FORMAT, ".zr")
Image.register_mime(FORMAT, "image/x-zr")
Image.register_decoder("zr", ZrDecoder)

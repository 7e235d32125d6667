"""ZR pictures in Python: decoding to and encoding from NumPy arrays.

    zr.decode(data, exact=False, low_memory=False, sharpen=False) -> array
    zr.info(data) -> dict of the header's fields
    zr.encode(array, **options) -> bytes (options as zrenc's: mode, map_coder,
        value_coder, step, fine_steps, boost, stretch, bits, trailer, sharpen,
        size, bpp, value_cost; see zr.ENCODE_OPTIONS)

Refused streams raise zr.ZrError (a ValueError) whose .status is the
decoder's status code. Importing zr registers the Pillow plug-in when Pillow
is installed.
"""
import numpy as _numpy

from ._zr import ENCODE_OPTIONS, ZrError, decode, info, status_text
from ._zr import encode as _encode

__all__ = ["ENCODE_OPTIONS", "ZrError", "decode", "encode", "info", "status_text"]


def encode(array, **options):
    """Encodes a uint8 (grey or colour) or uint16 (grey) array as a ZR stream.

    A uint16 array holds samples of `bits` bits (default 16); a uint8 one is
    rescaled like zrenc rescales an 8-bit picture when `bits` is deeper."""
    return _encode(_numpy.asarray(array), **options)


try:
    from . import pillow as _pillow  # noqa: F401
except ImportError:  # Pillow is optional
    pass

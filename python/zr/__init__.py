"""ZR pictures in Python: decoding to and encoding from NumPy arrays.

    zr.decode(data, exact=False, low_memory=False, sharpen=False) -> array
    zr.info(data) -> dict of the header's fields
    zr.encode(array, **options) -> bytes (options as zrenc's: mode, map_coder,
        value_coder, step, quality, fine_steps, boost, stretch, bits, trailer,
        sharpen, size, bpp, value_cost, effort, threads; see zr.ENCODE_OPTIONS)
    zr.StreamDecoder(interval) takes a stream in chunks and hands out the
        partial pictures on the way; zr.decode_stream(chunks) yields them.

Refused streams raise zr.ZrError (a ValueError) whose .status is the
decoder's status code. Importing zr registers the Pillow plug-in when Pillow
is installed.
"""
import collections as _collections

import numpy as _numpy

from ._zr import ENCODE_OPTIONS, ZrError, decode, info, status_text
from ._zr import _StreamDecoder
from ._zr import encode as _encode

__all__ = ["ENCODE_OPTIONS", "Partial", "StreamDecoder", "ZrError", "decode", "decode_stream", "encode",
           "info", "status_text"]

# A picture of a decode in progress: `pixels` covers the current level
# (fewer rows and columns than the picture until the end); `position` is the
# stream position of the byte about to be read; the last one is final.
Partial = _collections.namedtuple("Partial", "pixels position final")


def encode(array, **options):
    """Encodes a uint8 (grey or colour) or uint16 (grey) array as a ZR stream.

    A uint16 array holds samples of `bits` bits (default 16); a uint8 one is
    rescaled like zrenc rescales an 8-bit picture when `bits` is deeper."""
    return _encode(_numpy.asarray(array), **options)


class StreamDecoder:
    """Decodes a stream handed over in chunks of any size.

    With interval N > 0, a partial picture is made every time the decoder
    needs a byte at a position p with p mod N = N - 1 (as zrdec --frames-every
    N does); feed() returns those that became due. finish() ends the stream
    and returns (remaining partial pictures, final picture)."""

    def __init__(self, interval=4096, exact=False, low_memory=False, sharpen=False):
        self._decoder = _StreamDecoder(interval, exact, low_memory, sharpen)
        self._position = 0

    def feed(self, chunk):
        self._position += len(chunk)
        return [Partial(pixels, position, False) for pixels, position in self._decoder.feed(chunk)]

    def finish(self):
        partials, final = self._decoder.finish()
        return [Partial(p, q, False) for p, q in partials], final

    @property
    def header(self):
        """Sizes and pixel format once the header has arrived, else None."""
        return self._decoder.header()

    def close(self):
        self._decoder.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def decode_stream(chunks, interval=4096, **request):
    """Yields the partial pictures of the stream arriving in `chunks`, then
    the final picture (final=True, position: the bytes handed over)."""
    with StreamDecoder(interval, **request) as decoder:
        for chunk in chunks:
            yield from decoder.feed(chunk)
        partials, final = decoder.finish()
        yield from partials
        yield Partial(final, decoder._position, True)


try:
    from . import pillow as _pillow  # noqa: F401
except ImportError:  # Pillow is optional
    pass

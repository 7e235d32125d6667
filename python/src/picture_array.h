// Conversions between decoded pixels, NumPy arrays and encoder samples, and
// the exception that carries a refused stream's status.
#pragma once
#include <pybind11/numpy.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/encoder/picture_samples.h"
#include "codec/zr.h"

// The decoding options of zr.decode and zr.StreamDecoder.
ZrRequest decodeRequest(bool exact, bool lowMemory, bool sharpen);

// Raised for a stream the decoder refuses; Python sees zr.ZrError with the
// reason as its message and the status code as `.status`.
struct ZrDecodeError : std::runtime_error {
    ZrDecodeError(const std::string& message, int32_t status) : std::runtime_error(message), status(status) {}
    int32_t status;
};

// Throws ZrDecodeError for `status`, explained from the stream's header
// when it tells more than the status alone (a truncated header, a version).
[[noreturn]] void throwRefusal(int32_t status, const uint8_t* data, size_t size);

// Copies decoded pixels into a new array: rows x columns x 3 uint8 for
// colour, rows x columns uint8 or uint16 (from low-byte-first pairs) for grey.
pybind11::array pictureArray(const uint8_t* pixels, int32_t height, int32_t width, int32_t channels,
                             int32_t bytesPerPixel);

// The samples of an array at the depth the stream will carry. uint8 arrays
// hold 8-bit samples (rescaled when a grey stream of `bits` > 8 is asked
// for); uint16 grey arrays hold samples of `bits` (default 16) bits.
bool arraySamples(const pybind11::array& array, int32_t bits, PictureSamples* out, std::string* error);

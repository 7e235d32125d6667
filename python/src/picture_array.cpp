#include "python/src/picture_array.h"

#include <cstring>

#include "codec/zr.h"
#include "tools/stream_info.h"

namespace py = pybind11;

ZrRequest decodeRequest(bool exact, bool lowMemory, bool sharpen)
{
    ZrRequest request{};
    request.exactSteps = exact ? 1 : 0;
    request.lowMemory = lowMemory ? 1 : 0;
    request.sharpen = sharpen ? 1 : 0;
    return request;
}

void throwRefusal(int32_t status, const uint8_t* data, size_t size)
{
    StreamInfo header = inspectBytes(data, size);
    // The magic and the version are read whole before the data runs out;
    // later refusals of a cut header come from the zeros read past its end.
    bool decidedEarly = (header.status == ZR_BAD_MAGIC && ((size >= 1 && data[0] != 'Z') || (size >= 2 && data[1] != 'R')))
                     || (header.status == ZR_BAD_VERSION && size >= 3);
    if (header.endsInHeader && !decidedEarly)
        throw ZrDecodeError("the data ends inside the header", header.status ? header.status : status);
    if (status == 0)
        status = header.status;
    if (header.status == status && !header.reason.empty())
        throw ZrDecodeError(header.reason, status);
    throw ZrDecodeError(zrStatusText(status), status);
}

py::array pictureArray(const uint8_t* pixels, int32_t height, int32_t width, int32_t channels,
                       int32_t bytesPerPixel)
{
    size_t count = size_t(height) * size_t(width) * size_t(channels);
    if (channels == 3) {
        py::array_t<uint8_t> out({py::ssize_t(height), py::ssize_t(width), py::ssize_t(3)});
        std::memcpy(out.mutable_data(), pixels, count);
        return out;
    }
    if (bytesPerPixel == 2) {
        py::array_t<uint16_t> out({py::ssize_t(height), py::ssize_t(width)});
        uint16_t* to = out.mutable_data();
        for (size_t i = 0; i < count; i++)
            to[i] = uint16_t(pixels[2 * i] | (pixels[2 * i + 1] << 8));
        return out;
    }
    py::array_t<uint8_t> out({py::ssize_t(height), py::ssize_t(width)});
    std::memcpy(out.mutable_data(), pixels, count);
    return out;
}

bool arraySamples(const py::array& array, int32_t bits, PictureSamples* out, std::string* error)
{
    bool wide = array.dtype().is(py::dtype::of<uint16_t>());
    if (!wide && !array.dtype().is(py::dtype::of<uint8_t>())) {
        *error = "the array must be uint8 (grey or colour) or uint16 (grey), not " + std::string(py::str(array.dtype()));
        return false;
    }
    int components;
    if (array.ndim() == 2)
        components = 1;
    else if (array.ndim() == 3 && array.shape(2) == 3)
        components = 3;
    else if (array.ndim() == 3 && array.shape(2) == 1)
        components = 1;
    else {
        *error = "the array must be rows x columns (grey) or rows x columns x 3 (colour)";
        return false;
    }
    if (array.shape(0) > INT32_MAX || array.shape(1) > INT32_MAX) {
        *error = "the picture is too large";
        return false;
    }
    if (components == 3 && (wide || (bits && bits != 8))) {
        *error = "colour streams carry 8 bits per sample";
        return false;
    }
    out->height = int32_t(array.shape(0));
    out->width = int32_t(array.shape(1));
    out->components = components;
    out->bitsPerSample = bits ? bits : (wide ? 16 : 8);
    size_t count = size_t(out->height) * size_t(out->width) * size_t(components);
    out->samples.resize(count);
    py::array contiguous = py::array::ensure(array, py::array::c_style);
    if (!contiguous) {
        *error = "the array cannot be read";
        return false;
    }
    uint32_t top = (1u << out->bitsPerSample) - 1;
    if (wide) {
        const uint16_t* from = static_cast<const uint16_t*>(contiguous.data());
        for (size_t i = 0; i < count; i++) {
            if (from[i] > top) {
                *error = "sample " + std::to_string(from[i]) + " does not fit in " + std::to_string(out->bitsPerSample)
                       + " bits (give bits=)";
                return false;
            }
            out->samples[i] = from[i];
        }
    } else {
        // As zrenc rescales an 8-bit picture to a deeper stream.
        const uint8_t* from = static_cast<const uint8_t*>(contiguous.data());
        for (size_t i = 0; i < count; i++) {
            out->samples[i] = rescaleSample(from[i], 255, top);
        }
    }
    return true;
}

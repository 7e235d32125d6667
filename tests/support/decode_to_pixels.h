// Whole decodes through decodeStart, keeping a copy of the pixel block.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/decoder/decoder.h"

// The pixel block of a decoded frame: RGB for colour, one byte per grey
// sample up to 8 bits, two (low first) deeper. Empty without a block.
inline std::vector<uint8_t> framePixels(const FrameInfo& frame)
{
    if (!frame.pixels)
        return {};
    size_t perPixel = frame.isColour ? 3 : (frame.bitsPerPixel > 8 ? 2 : 1);
    return std::vector<uint8_t>(frame.pixels,
                                frame.pixels + static_cast<size_t>(frame.height) * frame.width * perPixel);
}

struct DecodedFrame {
    int32_t status = -1;
    int32_t height = 0;
    int32_t width = 0;
    std::vector<uint8_t> pixels;
};

// Decodes the first `size` bytes of `bytes` (or what options.byteSource
// delivers) and frees the frame.
inline DecodedFrame decodeToPixels(const std::vector<uint8_t>& bytes, size_t size, DecodeOptions options = {})
{
    StreamSource source{bytes.data(), static_cast<int32_t>(size), 0, 0};
    FrameInfo frame{};
    DecodedFrame result;
    result.status = decodeStart(&source, &options, &frame);
    result.height = frame.height;
    result.width = frame.width;
    result.pixels = framePixels(frame);
    decodeFree(&frame);
    return result;
}

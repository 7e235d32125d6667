// Checks shared by the decode targets: what a decode hands back must be
// consistent with its status, and every byte it claims must be readable.
#pragma once
#include <cstdint>
#include <cstdlib>

#include "codec/decoder/decoder.h"

// Bytes per pixel of a frame, as the server counts them for a raw copy.
inline uint64_t frameBytesPerPixel(const FrameInfo& frame)
{
    if (frame.isColour)
        return 3;
    return frame.bitsPerPixel > 8 ? 2 : 1;
}

// Reads `bytes` bytes of the block; the sanitizer reports a block too small.
inline void touchBytes(const uint8_t* pixels, uint64_t bytes)
{
    volatile uint8_t sink = 0;
    uint8_t sum = 0;
    for (uint64_t i = 0; i < bytes; i++)
        sum = static_cast<uint8_t>(sum + pixels[i]);
    sink = sum;
    (void)sink;
}

inline void checkFinalFrame(int32_t status, const FrameInfo& frame)
{
    bool known = status == 0 || status == 1 || status == 2 || status == 3 || status == 8 || status == 16;
    if (!known)
        std::abort();
    // Success always comes with a picture; a refused stream never has one.
    if (status == 0 && (!frame.pixels || frame.width <= 0 || frame.height <= 0))
        std::abort();
    if ((status == 1 || status == 2 || status == 3 || status == 16) && frame.pixels)
        std::abort();
    if (frame.session)
        std::abort();
    if (frame.pixels) {
        if (frame.partWidth != frame.width || frame.partHeight != frame.height)
            std::abort();
        touchBytes(frame.pixels, static_cast<uint64_t>(frame.width) * static_cast<uint64_t>(frame.height)
                                     * frameBytesPerPixel(frame));
    }
}

// A partial picture: never larger than the picture, and readable as far as
// the server's conversion reads it.
inline void checkPartialFrame(const FrameInfo& frame)
{
    if (!frame.pixels)
        return;
    if (frame.partWidth <= 0 || frame.partHeight <= 0 || frame.partWidth > frame.width
        || frame.partHeight > frame.height)
        std::abort();
    touchBytes(frame.pixels, static_cast<uint64_t>(frame.partWidth) * static_cast<uint64_t>(frame.partHeight)
                                 * frameBytesPerPixel(frame));
}

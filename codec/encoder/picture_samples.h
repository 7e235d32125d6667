// A picture that owns its samples, for programs that hand pictures to the
// encoder.
#pragma once
#include <cstdint>
#include <vector>

#include "codec/encoder/encoder.h"

struct PictureSamples {
    int32_t height = 0;
    int32_t width = 0;
    int32_t components = 1;
    int32_t bitsPerSample = 8;
    std::vector<uint16_t> samples; // height x width x components, interleaved row by row

    // Lends the samples to the encoder while this record lives unchanged.
    EncoderPicture view() const
    {
        EncoderPicture picture;
        picture.height = height;
        picture.width = width;
        picture.components = components;
        picture.bitsPerSample = bitsPerSample;
        picture.samples = samples.data();
        return picture;
    }
};

// A sample of 0..fromTop rescaled to 0..toTop, rounded to the nearest.
inline uint16_t rescaleSample(uint32_t value, uint32_t fromTop, uint32_t toTop)
{
    return uint16_t((uint64_t(value) * toTop * 2 + fromTop) / (2 * uint64_t(fromTop)));
}

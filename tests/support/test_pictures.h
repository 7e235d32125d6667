// Test pictures for the encoder, and a decode-and-compare helper.
#pragma once
#include <cstdint>
#include <vector>

#include "codec/encoder/picture_samples.h"

// Smooth gradients, a disc and a bar with sharp edges, and mild noise: the
// kinds of content every coder must carry. Deterministic.
PictureSamples makeTestPicture(int32_t height, int32_t width, int32_t components, int32_t bitsPerSample,
                            uint32_t seed = 1);

struct DecodeRequest {
    uint32_t halfSize = 0;
    uint32_t sharpen = 0;
    uint32_t exactSteps = 0;
};

struct DecodeResult {
    int32_t status = -1;
    double psnr = 0.0;
    std::vector<uint16_t> samples; // decoded, interleaved like the input
};

// Decodes the stream with decodeStart over memory and compares with the picture.
DecodeResult decodeAndCompare(const std::vector<uint8_t>& stream, const PictureSamples& picture,
                              const DecodeRequest& request = DecodeRequest());

double psnrOf(const PictureSamples& picture, const std::vector<uint16_t>& decoded);

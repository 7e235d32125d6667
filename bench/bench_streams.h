// Synthetic pictures and the streams the encoder library makes of them, for
// the decoder benchmark and the golden digest.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "codec/encoder/encoder.h"

struct BenchPicture {
    int32_t height = 0;
    int32_t width = 0;
    int32_t components = 1;
    int32_t bitsPerSample = 8;
    std::vector<uint16_t> samples;

    EncoderPicture view() const;
};

// Photograph-like content: smooth shading, several octaves of value noise,
// hard-edged shapes and fine stripes. Deterministic for a given seed.
BenchPicture makeBenchPicture(int32_t height, int32_t width, int32_t components, int32_t bitsPerSample,
                              uint32_t seed);

// The stream, or empty when the encoder refuses the parameters.
std::vector<uint8_t> encodeBenchStream(const BenchPicture& picture, const EncoderParams& params);

// The smallest step whose stream fits maxBytes, or 0.
int32_t findBenchStep(const BenchPicture& picture, const EncoderParams& params, int64_t maxBytes);

// Every samples/*.zr of the source tree, sorted by name: (name, bytes).
std::vector<std::pair<std::string, std::vector<uint8_t>>> loadSampleStreams();

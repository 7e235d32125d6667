// Synthetic pictures and the streams the encoder library makes of them, for
// the decoder benchmark and the golden digest.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "codec/encoder/picture_samples.h"

// Photograph-like content: smooth shading, several octaves of value noise,
// hard-edged shapes and fine stripes. Deterministic for a given seed.
PictureSamples makeBenchPicture(int32_t height, int32_t width, int32_t components, int32_t bitsPerSample,
                              uint32_t seed);

// The stream, or empty when the encoder refuses the parameters.
std::vector<uint8_t> encodeBenchStream(const PictureSamples& picture, const EncoderParams& params);

// The smallest step whose stream fits maxBytes, or 0.
int32_t findBenchStep(const PictureSamples& picture, const EncoderParams& params, int64_t maxBytes);

// Every samples/*.zr of the source tree, sorted by name: (name, bytes).
std::vector<std::pair<std::string, std::vector<uint8_t>>> loadSampleStreams();

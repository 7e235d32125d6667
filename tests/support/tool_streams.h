// Small valid streams for the tool tests: a header, the lowest bands and, in
// level-progressive mode, a detail flag per level whose detail holds no band
// data (map coder 3 with the fixed-width value coder reads only the 5-bit
// escape width per component).
#pragma once
#include <cstdint>
#include <random>
#include <vector>

#include "codec/core/geometry.h"
#include "tests/support/stream_header.h"

struct ToolStream {
    int32_t height = 40;
    int32_t width = 56;
    bool colour = false;
    int32_t bitsPerSample = 8;
    int32_t decodeMode = 1;
    uint32_t seed = 7;
};

inline std::vector<uint8_t> makeToolStream(const ToolStream& params)
{
    HeaderFields h;
    h.height = uint32_t(params.height);
    h.width = uint32_t(params.width);
    h.colour = params.colour;
    h.bitsPerSample = uint32_t(params.bitsPerSample);
    h.decodeMode = uint32_t(params.decodeMode);
    h.mapCoder = 3;
    BitSink sink;
    std::mt19937 random(params.seed);
    writeStreamStart(sink, h, 6, [&](int c) { return c == 0 ? random() % 64 : 24 + random() % 16; });
    int32_t levels = levelCount(params.height, params.width);
    int components = params.colour ? 3 : 1;
    if (params.decodeMode == 1) {
        for (int32_t L = levels - 1; L >= 0; L--) {
            sink.bits(1, 1);
            for (int c = 0; c < components; c++)
                sink.bits(5, random() % 32);
        }
    }
    return sink.finish();
}

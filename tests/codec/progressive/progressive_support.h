// Helpers for the level-progressive tests: the stream header, decoding a byte
// vector through decodeStart, and the serpentine scan order and body writer.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "codec/core/geometry.h"
#include "codec/session/map_coder_state.h"
#include "tests/support/bit_stream.h"
#include "tests/support/decode_to_pixels.h"
#include "tests/support/stream_header.h"

struct StreamHeader {
    int32_t height = 24;
    int32_t width = 20;
    bool colour = false;
    uint32_t quantStep = 20;
    uint32_t mapCoder = 1;
    uint32_t valueCoder = 3;
    uint32_t fineSteps = 0;
    uint32_t magnitudeBoost = 0;
};

inline void writeStreamHeader(BitSink& s, const StreamHeader& h)
{
    HeaderFields f;
    f.height = static_cast<uint32_t>(h.height);
    f.width = static_cast<uint32_t>(h.width);
    f.colour = h.colour;
    f.shortStep = h.quantStep < 256;
    f.quantStep = h.quantStep;
    f.decodeMode = 1;
    f.mapCoder = h.mapCoder;
    f.valueCoder = h.valueCoder;
    f.fineSteps = static_cast<int>(h.fineSteps);
    f.magnitudeBoost = static_cast<int>(h.magnitudeBoost);
    writeHeader(s, f);
}

// Lowest bands of bit width 0: component 0 flat at 32 q, chroma 0.
inline void writeFlatLowestBands(BitSink& s, int components)
{
    for (int c = 0; c < components; c++)
        s.bits(5, 0);
}

inline DecodedFrame decodeBytes(const std::vector<uint8_t>& bytes, size_t size, uint32_t halfSize = 0,
                                uint32_t sharpen = 0, uint32_t exactSteps = 0)
{
    DecodeOptions options{};
    options.exactSteps = exactSteps;
    options.halfSize = halfSize;
    options.sharpen = sharpen;
    return decodeToPixels(bytes, size, options);
}

inline DecodedFrame decodeBytes(const std::vector<uint8_t>& bytes, uint32_t halfSize = 0, uint32_t sharpen = 0,
                                uint32_t exactSteps = 0)
{
    return decodeBytes(bytes, bytes.size(), halfSize, sharpen, exactSteps);
}

struct Position {
    int32_t row, col;
    bool operator==(const Position& o) const { return row == o.row && col == o.col; }
};

// Visiting order of the serpentine scan of band b at level L when every
// position turns out significant.
std::vector<Position> serpentineOrder(int32_t height, int32_t width, int32_t L, int32_t b);

// A detail value of the body writer: sign (1 negative) and magnitude index.
struct DetailValue {
    uint32_t negative;
    uint32_t J;
};
using DetailSource = std::function<DetailValue(int c, int L, int b, Position p)>;

// One value as written, with the stream bit just after it.
struct WrittenValue {
    int c, L, b;
    Position p;
    DetailValue v;
    size_t endBit;
};

// Body of a serpentine / fixed-width stream (mapCoder 1, valueCoder 3) with
// every level carrying detail: each position gets sign and J of escapeWidth
// bits. lastLevelComponents limits the components at level 0 (low-memory).
std::vector<WrittenValue> writeSerpentineFixedBody(BitSink& s, int32_t height, int32_t width, int components,
                                                   int lastLevelComponents, uint32_t escapeWidth,
                                                   const DetailSource& values);

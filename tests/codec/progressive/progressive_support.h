// Helpers for the level-progressive tests: the stream header they start
// from, decoding a byte vector through decodeStart, and the serpentine scan
// order and body writer.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "codec/core/geometry.h"
#include "codec/session/map_coder_state.h"
#include "tests/support/bit_stream.h"
#include "tests/support/decode_to_pixels.h"
#include "tests/support/stream_header.h"

// The header these tests start from: 24 x 20 grey, level-progressive,
// serpentine maps and fixed-width values, step 20.
inline HeaderFields progressiveHeader()
{
    HeaderFields h;
    h.height = 24;
    h.width = 20;
    h.quantStep = 20;
    h.decodeMode = 1;
    h.mapCoder = 1;
    h.valueCoder = 3;
    return h;
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

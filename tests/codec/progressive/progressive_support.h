// Helpers for the level-progressive tests: a bit writer that collects bytes,
// the stream header, and decoding a byte vector through decodeStart.
#pragma once
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "codec/core/array2d.h"
#include "codec/core/bit_reader.h"
#include "codec/core/decoder.h"
#include "codec/core/geometry.h"
#include "codec/progressive/map_coder_state.h"

// Collects the bytes written through a sink-mode BitReader.
class StreamWriter {
public:
    StreamWriter()
    {
        std::memset(&writer_, 0, sizeof writer_);
        writer_.mask = 128;
        writer_.byteSource = &StreamWriter::store;
        writer_.buffer = reinterpret_cast<uint8_t*>(this);
    }
    StreamWriter(const StreamWriter&) = delete;
    StreamWriter& operator=(const StreamWriter&) = delete;

    BitReader* writer() { return &writer_; }
    StreamWriter& bits(int n, uint32_t value)
    {
        writeBits(&writer_, n, value);
        return *this;
    }
    StreamWriter& bit(uint32_t b)
    {
        writeBit(&writer_, b);
        return *this;
    }
    StreamWriter& unary(uint32_t count)
    {
        for (uint32_t i = 0; i < count; i++)
            writeBit(&writer_, 1);
        writeBit(&writer_, 0);
        return *this;
    }
    // Bits written so far.
    size_t bitCount() const
    {
        size_t partial = 0;
        for (uint8_t m = 128; m != writer_.mask; m >>= 1)
            partial++;
        return bytes_.size() * 8 + partial;
    }
    std::vector<uint8_t> finish()
    {
        flushBitWriter(&writer_);
        return bytes_;
    }

private:
    static int32_t store(void* context, uint32_t* slot)
    {
        reinterpret_cast<StreamWriter*>(context)->bytes_.push_back(static_cast<uint8_t>(*slot));
        return 0;
    }
    BitReader writer_;
    std::vector<uint8_t> bytes_;
};

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

inline void writeStreamHeader(StreamWriter& s, const StreamHeader& h)
{
    s.bits(8, 0x5A).bits(8, 0x52).bits(8, 2);
    s.bits(16, static_cast<uint32_t>(h.height)).bits(16, static_cast<uint32_t>(h.width));
    s.bits(5, 8).bit(h.colour ? 1 : 0);
    bool shortStep = h.quantStep < 256;
    s.bit(shortStep ? 1 : 0).bits(shortStep ? 8 : 16, h.quantStep);
    s.bits(2, 1).bits(2, h.mapCoder).bits(2, h.valueCoder);
    s.unary(h.fineSteps).unary(0).unary(h.magnitudeBoost);
    s.bit(0);
}

// Lowest bands of bit width 0: component 0 flat at 32 q, chroma 0.
inline void writeFlatLowestBands(StreamWriter& s, int components)
{
    for (int c = 0; c < components; c++)
        s.bits(5, 0);
}

struct DecodeResult {
    int32_t status = -1;
    std::vector<uint8_t> pixels;
};

inline DecodeResult decodeBytes(const std::vector<uint8_t>& bytes, size_t size, uint32_t halfSize = 0,
                                uint32_t sharpen = 0, uint32_t exactSteps = 0)
{
    StreamSource source{bytes.data(), static_cast<int32_t>(size), 0, 0};
    DecodeOptions options{};
    options.exactSteps = exactSteps;
    options.halfSize = halfSize;
    options.sharpen = sharpen;
    FrameInfo frame{};
    DecodeResult result;
    result.status = decodeStart(&source, &options, &frame);
    if (frame.pixels) {
        size_t n = static_cast<size_t>(frame.height) * static_cast<size_t>(frame.width) * (frame.isColour ? 3 : 1);
        result.pixels.assign(frame.pixels, frame.pixels + n);
    }
    decodeFree(&frame);
    return result;
}

inline DecodeResult decodeBytes(const std::vector<uint8_t>& bytes, uint32_t halfSize = 0, uint32_t sharpen = 0,
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
std::vector<WrittenValue> writeSerpentineFixedBody(StreamWriter& s, int32_t height, int32_t width, int components,
                                                   int lastLevelComponents, uint32_t escapeWidth,
                                                   const DetailSource& values);

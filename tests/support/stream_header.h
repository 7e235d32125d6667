// The stream header, field by field, for building test streams.
#pragma once
#include <cstdint>
#include <vector>

#include "codec/core/geometry.h"

#include "tests/support/bit_stream.h"

struct HeaderFields {
    uint32_t magic0 = 0x5A;
    uint32_t magic1 = 0x52;
    uint32_t version = 2;
    uint32_t height = 64;
    uint32_t width = 64;
    uint32_t bitsPerSample = 8;
    bool colour = false;
    bool shortStep = true;
    uint32_t quantStep = 8;
    uint32_t decodeMode = 0;
    uint32_t mapCoder = 0;
    uint32_t valueCoder = 1;
    int fineSteps = 0;
    int contrastStretch = 0;
    int magnitudeBoost = 0;
    bool trailer = false;
    uint32_t extension1 = 0;
    uint32_t extension2 = 0;
    uint32_t extension3 = 0;
};

inline void writeHeader(BitSink& sink, const HeaderFields& h)
{
    sink.bits(8, h.magic0).bits(8, h.magic1).bits(8, h.version);
    sink.bits(8, h.height >> 8).bits(8, h.height & 0xff);
    sink.bits(8, h.width >> 8).bits(8, h.width & 0xff);
    sink.bits(5, h.bitsPerSample).bits(1, h.colour ? 1 : 0).bits(1, h.shortStep ? 1 : 0);
    sink.bits(h.shortStep ? 8 : 16, h.quantStep);
    sink.bits(2, h.decodeMode).bits(2, h.mapCoder).bits(2, h.valueCoder);
    sink.unary(h.fineSteps).unary(h.contrastStretch).unary(h.magnitudeBoost);
    sink.bits(1, h.trailer ? 1 : 0);
    if (h.trailer)
        sink.bits(8, h.extension1).bits(8, h.extension2).bits(3, h.extension3);
}

inline std::vector<uint8_t> makeHeader(const HeaderFields& h)
{
    BitSink sink;
    writeHeader(sink, h);
    return sink.finish();
}

// The start of a small valid stream: the header `h` with fixed-width values
// and a step that spreads lowest-band samples of `sampleBits` bits over the
// tone range, then the lowest bands: per component the sample width, a base
// (0 for the first component, mid-range for chroma) and one sample(c) per
// cell.
template <class Sample>
void writeStreamStart(BitSink& sink, HeaderFields h, int sampleBits, Sample sample)
{
    int32_t height = int32_t(h.height), width = int32_t(h.width);
    int32_t levels = levelCount(height, width);
    h.shortStep = false;
    h.quantStep = uint32_t(1) << ((levels > 0 ? levels : 0) + int32_t(h.bitsPerSample) - sampleBits - 1);
    h.valueCoder = 3;
    writeHeader(sink, h);
    int32_t cells = levelSize(height, levels) * levelSize(width, levels);
    for (int c = 0; c < (h.colour ? 3 : 1); c++) {
        sink.bits(5, uint32_t(sampleBits)).bits(sampleBits, c == 0 ? 0 : uint32_t(1) << (sampleBits - 1));
        for (int32_t i = 0; i < cells; i++)
            sink.bits(sampleBits, uint32_t(sample(c)));
    }
}

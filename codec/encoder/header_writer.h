// The stream header and the lowest bands.
#pragma once
#include <cstdint>
#include <vector>

struct BitReader;

struct StreamHeader {
    int32_t height;
    int32_t width;
    int32_t bitsPerSample;
    int32_t components;      // 1 or 3
    int32_t quantStep;       // 1..65535
    int32_t decodeMode;
    int32_t mapCoder;
    int32_t valueCoder;
    int32_t fineSteps;
    int32_t contrastStretch;
    int32_t magnitudeBoost;
    int32_t hasTrailer;
    uint32_t extension1;     // 8 bits
    uint32_t extension2;     // 8 bits
    uint32_t extension3;     // 3 bits
};

// Magic "ZR", version 2 and the header fields, most significant bit first; the
// coded data follow at the next bit.
void writeStreamHeader(BitReader* writer, const StreamHeader& header);

// One component's lowest band: a 5-bit width, the base and the samples
// (stored difference + base) in that width.
void writeLowestBand(BitReader* writer, const std::vector<int32_t>& differences);

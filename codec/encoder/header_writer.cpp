#include "codec/encoder/header_writer.h"

#include "codec/core/bit_reader.h"
#include "codec/encoder/bit_sink.h"

void writeStreamHeader(BitReader* writer, const StreamHeader& h)
{
    writeBits(writer, 8, 'Z');
    writeBits(writer, 8, 'R');
    writeBits(writer, 8, 2);
    writeBits(writer, 16, static_cast<uint32_t>(h.height));
    writeBits(writer, 16, static_cast<uint32_t>(h.width));
    writeBits(writer, 5, static_cast<uint32_t>(h.bitsPerSample));
    writeBit(writer, h.components == 3);
    bool shortStep = h.quantStep < 256;
    writeBit(writer, shortStep);
    writeBits(writer, shortStep ? 8 : 16, static_cast<uint32_t>(h.quantStep));
    writeBits(writer, 2, static_cast<uint32_t>(h.decodeMode));
    writeBits(writer, 2, static_cast<uint32_t>(h.mapCoder));
    writeBits(writer, 2, static_cast<uint32_t>(h.valueCoder));
    writeUnary(writer, static_cast<uint32_t>(h.fineSteps));
    writeUnary(writer, static_cast<uint32_t>(h.contrastStretch));
    writeUnary(writer, static_cast<uint32_t>(h.magnitudeBoost));
    writeBit(writer, h.hasTrailer != 0);
    if (h.hasTrailer) {
        writeBits(writer, 8, h.extension1);
        writeBits(writer, 8, h.extension2);
        writeBits(writer, 3, h.extension3);
    }
}

void writeLowestBand(BitReader* writer, const std::vector<int32_t>& differences)
{
    int64_t lowest = 0, highest = 0;
    for (int32_t d : differences) {
        if (d < lowest)
            lowest = d;
        if (d > highest)
            highest = d;
    }
    uint32_t base = static_cast<uint32_t>(-lowest);
    int32_t width = bitLength(static_cast<uint32_t>(highest + base));
    writeBits(writer, 5, static_cast<uint32_t>(width));
    if (width == 0)
        return;
    writeBits(writer, width, base);
    for (int32_t d : differences)
        writeBits(writer, width, static_cast<uint32_t>(d + static_cast<int64_t>(base)));
}

#include "codec/recon/lowest_band.h"

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"

// Every field after the end of data reads as 0, also from a byte source,
// which would repeat its last byte.
static inline uint32_t readField(BitReader* bits, int n)
{
    return (bits->endOfData & 1) ? 0 : readBits(bits, n);
}

int32_t readLowestBand(BitReader* bits, Plane plane, int32_t height, int32_t width,
                       int32_t component, int32_t levels, uint32_t quantStep)
{
    const int32_t L = levels > 0 ? levels : 0;
    const int32_t R = levelSize(height, L);
    const int32_t C = levelSize(width, L);

    const int w = static_cast<int>(readField(bits, 5));
    const int32_t base = static_cast<int32_t>(readField(bits, w));
    // Centre of a step of 32 x quantStep; products wrap as 32-bit values.
    const uint32_t Q = quantStep << 5;
    const int32_t zero = component == 0 ? static_cast<int32_t>(Q) : 0;

    int32_t sum = 0;
    for (int32_t r = 0; r < R; r++) {
        int32_t* out = plane[r];
        for (int32_t c = 0; c < C; c++) {
            // Both fields are below 2^31, so the difference fits.
            const int32_t d = static_cast<int32_t>(readField(bits, w)) - base;
            int32_t value;
            if (d > 0)
                value = static_cast<int32_t>(Q * (2u * static_cast<uint32_t>(d) + 1u));
            else if (d < 0)
                value = static_cast<int32_t>(0u - Q * (2u * (0u - static_cast<uint32_t>(d)) + 1u));
            else
                value = zero;
            out[c] = value;
            sum += value;
        }
    }

    const int64_t count = static_cast<int64_t>(R) * C;
    const int64_t quotient = count > 0 ? sum / count : 0;
    // The rounding term is 2^(L-1), not half a pixel step; none at level 0.
    const int64_t rounding = L > 0 ? int64_t{1} << (L - 1) : 0;
    return static_cast<int32_t>((quotient + rounding) >> (L + 5));
}

#include "codec/encoder/quadtree_encoder.h"

#include "codec/core/bit_reader.h"

bool QuadtreeBand::allKnown(int32_t r0, int32_t r1, int32_t c0, int32_t c1) const
{
    for (int32_t r = r0; r < r1; r++)
        for (int32_t c = c0; c < c1; c++)
            if (!known(r, c))
                return false;
    return true;
}

bool QuadtreeBand::anySignificant(int32_t r0, int32_t r1, int32_t c0, int32_t c1) const
{
    for (int32_t r = r0; r < r1; r++)
        for (int32_t c = c0; c < c1; c++)
            if (significant(r, c))
                return true;
    return false;
}

int32_t writeQuadrantSet(BitReader* writer, uint32_t set, int32_t order[4])
{
    enum { TL = 0, TR = 1, BL = 2, BR = 3 };
    switch (set & 15) {
    case 1: case 2: case 4: case 8: {
        int32_t q = set == 1 ? 0 : set == 2 ? 1 : set == 4 ? 2 : 3;
        writeBits(writer, 3, 4u | static_cast<uint32_t>(q));
        order[0] = q;
        return 1;
    }
    case 9: writeBits(writer, 4, 4); order[0] = TL; order[1] = BR; return 2;
    case 6: writeBits(writer, 4, 5); order[0] = TR; order[1] = BL; return 2;
    case 3: writeBits(writer, 5, 12); order[0] = TL; order[1] = TR; return 2;
    case 12: writeBits(writer, 5, 13); order[0] = BL; order[1] = BR; return 2;
    case 5: writeBits(writer, 5, 14); order[0] = TL; order[1] = BL; return 2;
    case 10: writeBits(writer, 5, 15); order[0] = TR; order[1] = BR; return 2;
    case 11: writeBits(writer, 5, 4); order[0] = TL; order[1] = TR; order[2] = BR; return 3;
    case 14: writeBits(writer, 5, 5); order[0] = TR; order[1] = BR; order[2] = BL; return 3;
    case 13: writeBits(writer, 5, 6); order[0] = BR; order[1] = BL; order[2] = TL; return 3;
    case 7: writeBits(writer, 5, 7); order[0] = BL; order[1] = TL; order[2] = TR; return 3;
    default: writeBits(writer, 3, 0); order[0] = TL; order[1] = TR; order[2] = BL; order[3] = BR; return 4;
    }
}

void writeBlockPattern(BitReader* writer, uint32_t pattern)
{
    // {length, bits} by pattern.
    static const uint8_t kCodes[16][2] = {
        {0, 0}, {3, 7}, {3, 6}, {5, 14}, {3, 5}, {4, 5}, {5, 13}, {5, 5},
        {3, 4}, {5, 15}, {4, 4}, {5, 6}, {5, 12}, {5, 7}, {5, 4}, {3, 0},
    };
    writeBits(writer, kCodes[pattern & 15][0], kCodes[pattern & 15][1]);
}

void encodeQuadtreeRect(BitReader* writer, QuadtreeBand* band, int32_t r0, int32_t r1, int32_t c0,
                        int32_t c1)
{
    int32_t h = r1 - r0;
    int32_t w = c1 - c0;
    if (h > 2 && w > 2) {
        int32_t m = r0 + (h >> 1);
        int32_t k = c0 + (w >> 1);
        const int32_t quads[4][4] = {{r0, m, c0, k}, {r0, m, k, c1}, {m, r1, c0, k}, {m, r1, k, c1}};
        bool zero[4];
        int32_t u = 0;
        for (int32_t q = 0; q < 4; q++) {
            zero[q] = band->allKnown(quads[q][0], quads[q][1], quads[q][2], quads[q][3]);
            u += zero[q];
        }
        if (u == 0) {
            uint32_t set = 0;
            for (int32_t q = 0; q < 4; q++)
                if (band->anySignificant(quads[q][0], quads[q][1], quads[q][2], quads[q][3]))
                    set |= 1u << q;
            int32_t order[4];
            int32_t count = writeQuadrantSet(writer, set, order);
            for (int32_t i = 0; i < count; i++) {
                const int32_t* r = quads[order[i]];
                encodeQuadtreeRect(writer, band, r[0], r[1], r[2], r[3]);
            }
            return;
        }
        for (int32_t q = 0; q < 4; q++) {
            if (zero[q])
                continue;
            const int32_t* r = quads[q];
            if (u == 3) {
                encodeQuadtreeRect(writer, band, r[0], r[1], r[2], r[3]);
                continue;
            }
            bool any = band->anySignificant(r[0], r[1], r[2], r[3]);
            writeBit(writer, any);
            if (any)
                encodeQuadtreeRect(writer, band, r[0], r[1], r[2], r[3]);
            else
                u++;
        }
        return;
    }

    int32_t n = h * w;
    int32_t knownCount = 0;
    for (int32_t r = r0; r < r1; r++)
        for (int32_t c = c0; c < c1; c++)
            knownCount += band->known(r, c);
    if (knownCount == 0 && n == 4) {
        uint32_t pattern = 0;
        uint32_t bit = 8;
        for (int32_t r = r0; r < r1; r++)
            for (int32_t c = c0; c < c1; c++, bit >>= 1)
                if (band->significant(r, c))
                    pattern |= bit;
        writeBlockPattern(writer, pattern);
    } else {
        for (int32_t r = r0; r < r1; r++) {
            for (int32_t c = c0; c < c1; c++) {
                if (band->known(r, c) || n == knownCount + 1)
                    continue;
                bool sig = band->significant(r, c);
                writeBit(writer, sig);
                if (!sig)
                    knownCount++;
            }
        }
    }
    for (int32_t r = r0; r < r1; r++)
        for (int32_t c = c0; c < c1; c++)
            if (!band->known(r, c) && band->significant(r, c))
                band->settle(r, c);
}

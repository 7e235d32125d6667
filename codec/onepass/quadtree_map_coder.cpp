#include "codec/onepass/quadtree_map_coder.h"

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"

int32_t allMarked(uint8_t** map, int32_t rowStart, int32_t rowEnd, int32_t colStart,
                  int32_t colEnd)
{
    for (int32_t r = rowStart; r < rowEnd; r++)
        for (int32_t c = colStart; c < colEnd; c++)
            if (map[r][c] != MAP_ANCESTOR)
                return 0;
    return 1;
}

static inline uint32_t twoBits(BitReader* bits)
{
    uint32_t high = readBits(bits, 1);
    return (high << 1) | readBits(bits, 1);
}

// Which of a block's four positions (first position = 8) become significant.
static uint32_t readBlockCode(BitReader* bits)
{
    if (readBits(bits, 1))
        return 8u >> twoBits(bits);
    if (readBits(bits, 1)) {
        if (!readBits(bits, 1))
            return readBits(bits, 1) ? 0x5 : 0xA;
        static const uint8_t pairs[4] = {0xC, 0x6, 0x3, 0x9};
        return pairs[twoBits(bits)];
    }
    if (!readBits(bits, 1))
        return 0xF;
    static const uint8_t triples[4] = {0xE, 0x7, 0xB, 0xD};
    return triples[twoBits(bits)];
}

static void decodeSmallRect(BitReader* bits, uint8_t** map, SignificanceMarkState* state,
                            int32_t rowStart, int32_t rowEnd, int32_t colStart, int32_t colEnd)
{
    int32_t n = (rowEnd - rowStart) * (colEnd - colStart);
    int32_t k = 0;
    for (int32_t r = rowStart; r < rowEnd; r++)
        for (int32_t c = colStart; c < colEnd; c++)
            k += map[r][c] == MAP_ANCESTOR;
    if (k == 0 && n == 4) {
        uint32_t mask = readBlockCode(bits);
        uint32_t bit = 8;
        for (int32_t r = rowStart; r < rowEnd; r++)
            for (int32_t c = colStart; c < colEnd; c++, bit >>= 1)
                if (mask & bit)
                    markSignificant(state, map, r, c);
        return;
    }
    for (int32_t r = rowStart; r < rowEnd; r++) {
        for (int32_t c = colStart; c < colEnd; c++) {
            if (map[r][c] == MAP_ANCESTOR)
                continue;
            // The last candidate is significant without a bit.
            if (k == n - 1 || readBits(bits, 1))
                markSignificant(state, map, r, c);
            else
                k++;
        }
    }
}

void decodeQuadtreeRect(BitReader* bits, uint8_t** map, SignificanceMarkState* state,
                        int32_t rowStart, int32_t rowEnd, int32_t colStart, int32_t colEnd)
{
    int32_t h = rowEnd - rowStart;
    int32_t w = colEnd - colStart;
    if (h <= 2 || w <= 2) {
        decodeSmallRect(bits, map, state, rowStart, rowEnd, colStart, colEnd);
        return;
    }
    int32_t mr = rowStart + (h >> 1);
    int32_t mc = colStart + (w >> 1);
    // Quadrants 0..3 = top left, top right, bottom left, bottom right.
    const int32_t q[4][4] = {
        {rowStart, mr, colStart, mc},
        {rowStart, mr, mc, colEnd},
        {mr, rowEnd, colStart, mc},
        {mr, rowEnd, mc, colEnd},
    };
    int32_t marked[4];
    int32_t n = 0;
    for (int32_t i = 0; i < 4; i++) {
        marked[i] = allMarked(map, q[i][0], q[i][1], q[i][2], q[i][3]);
        n += marked[i];
    }
    if (n >= 1) {
        int32_t k = n;
        for (int32_t i = 0; i < 4; i++) {
            if (marked[i])
                continue;
            if (k == 3 || readBits(bits, 1))
                decodeQuadtreeRect(bits, map, state, q[i][0], q[i][1], q[i][2], q[i][3]);
            else
                k++;
        }
        return;
    }
    // Quadrant-set code: the quadrants holding something, in decoding order.
    static const int8_t sets[16][5] = {
        {0, -1}, {1, -1}, {2, -1}, {3, -1},                 // 1bb
        {0, 3, -1}, {1, 2, -1},                             // 0100, 0101
        {0, 1, -1}, {2, 3, -1}, {0, 2, -1}, {1, 3, -1},     // 011bb
        {0, 1, 3, -1}, {1, 3, 2, -1}, {3, 2, 0, -1}, {2, 0, 1, -1}, // 001bb
        {0, 1, 2, 3, -1},                                   // 000
        {-1},
    };
    int32_t set;
    if (readBits(bits, 1)) {
        set = static_cast<int32_t>(twoBits(bits));
    } else if (readBits(bits, 1)) {
        if (!readBits(bits, 1))
            set = 4 + static_cast<int32_t>(readBits(bits, 1));
        else
            set = 6 + static_cast<int32_t>(twoBits(bits));
    } else {
        set = readBits(bits, 1) ? 10 + static_cast<int32_t>(twoBits(bits)) : 14;
    }
    for (const int8_t* p = sets[set]; *p >= 0; p++)
        decodeQuadtreeRect(bits, map, state, q[*p][0], q[*p][1], q[*p][2], q[*p][3]);
}

int32_t decodeQuadtreeMap(BitReader* bits, uint8_t** map, int32_t rows, int32_t cols,
                          int32_t levels)
{
    SignificanceMarkState state;
    if (!beginSignificanceMarking(&state, rows, cols, levels))
        return 0;
    for (int32_t L = 0; L < levels && !(bits->endOfData & 1); L++) {
        for (int32_t t = 0; t < 3; t++) {
            if (bits->endOfData & 1)
                break;
            BandRect b = bandRect(rows, cols, L, t);
            enterMapBand(&state, L, t, b.rowEnd, b.colEnd);
            if (readBits(bits, 1))
                decodeQuadtreeRect(bits, map, &state, b.rowStart, b.rowEnd, b.colStart, b.colEnd);
        }
    }
    endSignificanceMarking(&state);
    return 1;
}

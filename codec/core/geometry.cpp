#include "codec/core/geometry.h"

#include "codec/core/array2d.h"

int32_t floorLog2(int32_t x)
{
    if (x <= 0)
        return -1;
    int32_t b = 0;
    while (x > 1) {
        x >>= 1;
        b++;
    }
    return b;
}

int32_t levelCount(int32_t height, int32_t width)
{
    int32_t h = height - 2;
    int32_t w = width - 2;
    return floorLog2(h < w ? h : w) - 2;
}

int32_t levelSize(int32_t n, int32_t L)
{
    if (L <= 0)
        return n;
    // Beyond 40 levels every size has settled (at 2, or at 1 for sides under 2).
    if (L > 40)
        L = 40;
    int64_t size = (static_cast<int64_t>(n) + (static_cast<int64_t>(1) << (L + 1)) - 2) >> L;
    return static_cast<int32_t>(size);
}

BandRect bandRect(int32_t rows, int32_t cols, int32_t L, int32_t band)
{
    int32_t R = levelSize(rows, L);
    int32_t C = levelSize(cols, L);
    int32_t Rl = lowSize(R);
    int32_t Cl = lowSize(C);
    switch (band) {
    case 0: return {0, Rl, Cl, C};
    case 1: return {Rl, R, 0, Cl};
    default: return {Rl, R, Cl, C};
    }
}

void bandBounds(int32_t rows, int32_t cols, int32_t L, int32_t band,
                int32_t* rowStart, int32_t* rowEnd, int32_t* colStart, int32_t* colEnd)
{
    if (band < 0 || band > 2)
        return;
    BandRect r = bandRect(rows, cols, L, band);
    *rowStart = r.rowStart;
    *rowEnd = r.rowEnd;
    *colStart = r.colStart;
    *colEnd = r.colEnd;
}

int32_t makeBandParityTables(uint8_t*** rowCodes, uint8_t*** colCodes,
                             int32_t rows, int32_t cols, int32_t levels)
{
    uint8_t** P = reinterpret_cast<uint8_t**>(makeArray2D(3, levels + 1, 1));
    uint8_t** Q = reinterpret_cast<uint8_t**>(makeArray2D(3, levels + 1, 1));
    if (!P || !Q) {
        freeArray2D(reinterpret_cast<void**>(P));
        freeArray2D(reinterpret_cast<void**>(Q));
        return 0;
    }
    for (int32_t i = 0; i < levels; i++) {
        BandRect b0 = bandRect(rows, cols, i, 0);
        BandRect b1 = bandRect(rows, cols, i, 1);
        P[0][i] = static_cast<uint8_t>(4 + (b0.rowEnd & 1));
        Q[0][i] = Q[2][i] = static_cast<uint8_t>(b0.colEnd & 3);
        P[1][i] = P[2][i] = static_cast<uint8_t>(b1.rowEnd & 3);
        Q[1][i] = static_cast<uint8_t>(4 + (b1.colEnd & 1));
    }
    *rowCodes = P;
    *colCodes = Q;
    return 1;
}

void freeBandParityTables(uint8_t** rowCodes, uint8_t** colCodes)
{
    freeArray2D(reinterpret_cast<void**>(rowCodes));
    freeArray2D(reinterpret_cast<void**>(colCodes));
}

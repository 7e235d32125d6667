// Level geometry of the compacted wavelet layout.
#pragma once
#include <cstdint>

// Largest b with 2^b <= x; -1 for x <= 0.
int32_t floorLog2(int32_t x);
// floorLog2(min(height - 2, width - 2)) - 2; negative for tiny pictures.
int32_t levelCount(int32_t height, int32_t width);

// Size of the region of level L for a side of n samples:
// (n + 2^(L+1) - 2) >> L, exact for every L >= 0 (sizes settle at 2).
int32_t levelSize(int32_t n, int32_t L);
// Low-pass part of a region of n samples.
inline int32_t lowSize(int32_t n) { return (n + 2) >> 1; }

struct BandRect {
    int32_t rowStart, rowEnd, colStart, colEnd; // half-open
};

// Bounds of detail band 0 (top right), 1 (bottom left) or 2 (bottom right) of
// level L. Any other band number leaves the outputs unchanged.
void bandBounds(int32_t rows, int32_t cols, int32_t L, int32_t band,
                int32_t* rowStart, int32_t* rowEnd, int32_t* colStart, int32_t* colEnd);
BandRect bandRect(int32_t rows, int32_t cols, int32_t L, int32_t band);

// Two 3 x (levels + 1) byte tables read by the significance-map coders:
// rowCodes[band][level] and colCodes[band][level]. Column `levels` is not
// written. Returns 0 (and makes nothing) when an allocation fails.
int32_t makeBandParityTables(uint8_t*** rowCodes, uint8_t*** colCodes,
                             int32_t rows, int32_t cols, int32_t levels);
void freeBandParityTables(uint8_t** rowCodes, uint8_t** colCodes);

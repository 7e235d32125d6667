// Significance-map coder 2 of the one-pass mode: a quadtree of raw bits.
#pragma once
#include <cstdint>

#include "codec/onepass/significance_marking.h"

struct BitReader;

// Decodes one component's map (see decodeRunMapRaster for the arguments).
// Returns 0 when the parity tables cannot be allocated, else 1.
int32_t decodeQuadtreeMap(BitReader* bits, uint8_t** map, int32_t rows, int32_t cols,
                          int32_t levels);

// Locates the new significant positions of a rectangle known to hold some.
void decodeQuadtreeRect(BitReader* bits, uint8_t** map, SignificanceMarkState* state,
                        int32_t rowStart, int32_t rowEnd, int32_t colStart, int32_t colEnd);

// 1 when every position of the rectangle is 4 (also when it is empty).
int32_t allMarked(uint8_t** map, int32_t rowStart, int32_t rowEnd, int32_t colStart,
                  int32_t colEnd);

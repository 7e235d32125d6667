// Significance-map coders 0 (raster runs) and 1 (runs along a quadrant
// curve) of the one-pass mode.
#pragma once
#include <cstdint>

#include "codec/entropy/huffman_tree.h"
#include "codec/onepass/significance_marking.h"

struct BitReader;

struct RunMapState {
    int32_t run;                 // positions still to pass before the next significant one
    AdaptiveHuffmanTree tree;    // run values: 256 symbols, start mode 0
    SignificanceMarkState mark;
};

// Decode one component's map over its top-left rows x cols positions with
// `levels` detail levels (none when levels <= 0; the first run is read
// anyway). A premature end shows in the reader's endOfData flag. Return 0
// when the run tree or the parity tables cannot be allocated, else 1.
int32_t decodeRunMapRaster(BitReader* bits, uint8_t** map, int32_t rows, int32_t cols,
                           int32_t levels);
int32_t decodeRunMapCurve(BitReader* bits, uint8_t** map, int32_t rows, int32_t cols,
                          int32_t levels);

// Walks a rectangle along the quadrant curve of orientation 0..3, passing it
// whole when the current run covers every position still unmarked.
void scanCurveRect(BitReader* bits, uint8_t** map, RunMapState* state, int32_t orientation,
                   int32_t rowStart, int32_t rowEnd, int32_t colStart, int32_t colEnd);

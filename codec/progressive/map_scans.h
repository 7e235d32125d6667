// Significance-map band passes of the level-progressive driver. Every pass
// walks one band of one component at one level, calls the value callback for
// each significant position and marks the children of insignificant ones.
#pragma once
#include <cstdint>

#include "codec/session/map_coder_state.h"

struct BitReader;
struct DecodeSession;

// Flag map codes.
enum : uint8_t {
    FLAG_UNTESTED = 1,
    FLAG_SIGNIFICANT = 2,
    FLAG_KNOWN_ZERO = 4,
};

// Marks the children at level L - 1 of position (row, col) of band b at level
// L as known zero; endRow and endCol are the band's end at level L. L > 0.
void markChildren(uint8_t** flags, uint8_t* const* rowCases, uint8_t* const* columnCases, int32_t b, int32_t L,
                  int32_t row, int32_t col, int32_t endRow, int32_t endCol);

// The common start of a band pass: the callback switch at level 0 and the
// band rectangle (half-open).
void startBandPass(MapCoderState* state, int32_t height, int32_t width, int32_t L, int32_t b, int32_t* rowStart,
                   int32_t* rowEnd, int32_t* colStart, int32_t* colEnd);

// mapCoder 0 with valueCoder 0: the callback's result decides significance.
void scanRaster(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags, int32_t height,
                int32_t width, int32_t L, int32_t b);
// mapCoder 0 with valueCoder 1..3: alternating zero and significant runs.
void scanRuns(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags, int32_t height,
              int32_t width, int32_t L, int32_t b);
// mapCoder 1: recursive quadrant scan with serpentine leaves.
void scanSerpentine(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags,
                    int32_t height, int32_t width, int32_t L, int32_t b);

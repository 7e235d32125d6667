// Significance-map band passes of the level-progressive driver. Every pass
// walks one band of one component at one level, calls the value callback for
// each significant position and marks the children of insignificant ones.
#pragma once
#include <cstdint>

#include "codec/core/force_inline.h"
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
// markChildren for every position of band b at level L > 0 (rows r0..r1,
// columns c0..c1, half-open) that is not significant.
void markBandChildren(uint8_t** flags, uint8_t* const* rowCases, uint8_t* const* columnCases, int32_t b, int32_t L,
                      int32_t r0, int32_t r1, int32_t c0, int32_t c1);

// The positions the serpentine scan tests in a band, in its order, made
// before the band's pass: (row - rowStart) << colBits | (col - colStart).
// A list's rectangle holds at most kListPositionsMost positions, which keeps
// its packed positions below twice that, within 16 bits.
constexpr int32_t kListPositionsMost = 1 << 15;
struct BandList {
    uint16_t* at;
    int32_t count;
    uint32_t colBits;
    int32_t rowStart;
    int32_t colStart;
};

// A list's packed positions unpacked, with its fields in locals: the flag
// and queue stores may alias the list.
struct ListGeometry {
    uint32_t colBits;
    uint32_t colMask;
    int32_t rowStart;
    int32_t colStart;
    ZR_INLINE int32_t row(uint32_t position) const
    {
        return rowStart + static_cast<int32_t>(position >> colBits);
    }
    ZR_INLINE int32_t col(uint32_t position) const
    {
        return colStart + static_cast<int32_t>(position & colMask);
    }
};

ZR_INLINE ListGeometry listGeometry(const BandList* list)
{
    return {list->colBits, (uint32_t(1) << list->colBits) - 1, list->rowStart, list->colStart};
}

// Writes the untested positions of the rectangle (at most kListPositionsMost)
// in the order of the serpentine walk of the given type (the flags as they
// stand) to list->at, which has room for all of them, and sets the rest of
// the list.
void listUntestedPositions(uint8_t* const* flags, int32_t type, int32_t r0, int32_t r1, int32_t c0, int32_t c1,
                           BandList* list);

// mapCoder 1: recursive quadrant scan with serpentine leaves. With
// state->lists it tests the positions listed for the band instead of
// walking where they were listed, and leaves the children unmarked.
void scanSerpentine(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags,
                    int32_t height, int32_t width, int32_t L, int32_t b);

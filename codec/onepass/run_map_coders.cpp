#include "codec/onepass/run_map_coders.h"

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/onepass/map_bytes.h"

// A position still 1 is counted against the run; when the run is used up it
// becomes significant and the next run is read.
static inline void passPosition(BitReader* bits, uint8_t** map, RunMapState* state, int32_t r,
                                int32_t c)
{
    if (map[r][c] != MAP_NOT_SIGNIFICANT)
        return;
    if (state->run > 0) {
        state->run--;
        return;
    }
    markSignificant(&state->mark, map, r, c);
    state->run = decodeHuffmanValue(bits, &state->tree);
}

// passPosition over columns colStart..colEnd-1 of row r, eight positions at
// a time: a run that covers them passes them at once, and one that ends
// among them jumps to the unmarked position it ends on. Marking changes only
// the position itself and coarser levels, never the codes still ahead in
// this row, so the eight's flags stay valid while it is passed.
static void passRow(BitReader* bits, uint8_t** map, RunMapState* state, int32_t r, int32_t colStart,
                    int32_t colEnd)
{
    const uint8_t* row = map[r];
    int32_t c = colStart;
    if constexpr (kMapBytes8) {
        for (; colEnd - c >= 8; c += 8) {
            uint64_t flags = notSignificantBytes8(row + c);
            int32_t n = countFlaggedBytes(flags);
            int32_t from = 0; // positions before it are passed
            while (n > state->run && state->run >= 0) {
                for (int32_t k = 0; k < state->run; k++)
                    flags &= flags - 1;
                const int32_t at = firstFlaggedByte(flags);
                flags &= flags - 1;
                n -= state->run + 1;
                markSignificant(&state->mark, map, r, c + at);
                state->run = decodeHuffmanValue(bits, &state->tree);
                from = at + 1;
            }
            if (n <= state->run) {
                state->run -= n;
                continue;
            }
            // A negative run (corrupt data) marks every position it meets.
            for (int32_t k = from; k < 8; k++)
                passPosition(bits, map, state, r, c + k);
        }
    }
    for (; c < colEnd; c++)
        passPosition(bits, map, state, r, c);
}

// Tree, first run and parity tables; 0 when an allocation fails (nothing is
// left allocated then).
static int32_t beginRunMap(BitReader* bits, RunMapState* state, int32_t rows, int32_t cols,
                           int32_t levels)
{
    if (!initHuffmanTree(&state->tree, 256, 0))
        return 0;
    state->run = decodeHuffmanValue(bits, &state->tree);
    if (!beginSignificanceMarking(&state->mark, rows, cols, levels)) {
        freeHuffmanTree(&state->tree);
        return 0;
    }
    return 1;
}

static void endRunMap(RunMapState* state)
{
    freeHuffmanTree(&state->tree);
    endSignificanceMarking(&state->mark);
}

int32_t decodeRunMapRaster(BitReader* bits, uint8_t** map, int32_t rows, int32_t cols,
                           int32_t levels)
{
    RunMapState state;
    if (!beginRunMap(bits, &state, rows, cols, levels))
        return 0;
    for (int32_t L = 0; L < levels && !(bits->endOfData & 1); L++) {
        for (int32_t t = 0; t < 3; t++) {
            if (bits->endOfData & 1)
                break;
            BandRect b = bandRect(rows, cols, L, t);
            enterMapBand(&state.mark, L, t, b.rowEnd, b.colEnd);
            for (int32_t r = b.rowStart; r < b.rowEnd; r++)
                passRow(bits, map, &state, r, b.colStart, b.colEnd);
        }
    }
    endRunMap(&state);
    // The last run must cover exactly the positions after the last significant one.
    if (state.run != 0)
        bits->endOfData = 1;
    return 1;
}

// The positions still 1 in the rectangle, counted only until there are more
// than limit (the result is then some number above limit).
static int32_t countUnmarked(uint8_t** map, int32_t rowStart, int32_t rowEnd, int32_t colStart,
                             int32_t colEnd, int32_t limit)
{
    int32_t n = 0;
    for (int32_t r = rowStart; r < rowEnd && n <= limit; r++) {
        const uint8_t* row = map[r];
        int32_t c = colStart;
        if constexpr (kMapBytes8)
            for (; colEnd - c >= 8; c += 8)
                n += countFlaggedBytes(notSignificantBytes8(row + c));
        for (; c < colEnd; c++)
            n += row[c] == MAP_NOT_SIGNIFICANT;
    }
    return n;
}

// Serpentine walk of a rectangle with a side of 2 or less.
static void scanCurveLeaf(BitReader* bits, uint8_t** map, RunMapState* state,
                          int32_t orientation, int32_t rowStart, int32_t rowEnd,
                          int32_t colStart, int32_t colEnd)
{
    switch (orientation) {
    case 0: { // columns right to left, first column downwards
        bool down = true;
        for (int32_t c = colEnd - 1; c >= colStart; c--, down = !down) {
            if (down)
                for (int32_t r = rowStart; r < rowEnd; r++) passPosition(bits, map, state, r, c);
            else
                for (int32_t r = rowEnd - 1; r >= rowStart; r--) passPosition(bits, map, state, r, c);
        }
        break;
    }
    case 1: { // columns left to right, first column upwards
        bool up = true;
        for (int32_t c = colStart; c < colEnd; c++, up = !up) {
            if (up)
                for (int32_t r = rowEnd - 1; r >= rowStart; r--) passPosition(bits, map, state, r, c);
            else
                for (int32_t r = rowStart; r < rowEnd; r++) passPosition(bits, map, state, r, c);
        }
        break;
    }
    case 2: { // rows bottom to top, first row rightwards
        bool right = true;
        for (int32_t r = rowEnd - 1; r >= rowStart; r--, right = !right) {
            if (right)
                for (int32_t c = colStart; c < colEnd; c++) passPosition(bits, map, state, r, c);
            else
                for (int32_t c = colEnd - 1; c >= colStart; c--) passPosition(bits, map, state, r, c);
        }
        break;
    }
    default: { // rows top to bottom, first row leftwards
        bool left = true;
        for (int32_t r = rowStart; r < rowEnd; r++, left = !left) {
            if (left)
                for (int32_t c = colEnd - 1; c >= colStart; c--) passPosition(bits, map, state, r, c);
            else
                for (int32_t c = colStart; c < colEnd; c++) passPosition(bits, map, state, r, c);
        }
        break;
    }
    }
}

void scanCurveRect(BitReader* bits, uint8_t** map, RunMapState* state, int32_t orientation,
                   int32_t rowStart, int32_t rowEnd, int32_t colStart, int32_t colEnd)
{
    // A run that covers the whole rectangle skips it.
    int32_t n = countUnmarked(map, rowStart, rowEnd, colStart, colEnd, state->run);
    if (state->run >= n) {
        state->run -= n;
        return;
    }
    int32_t h = rowEnd - rowStart;
    int32_t w = colEnd - colStart;
    if (h <= 2 || w <= 2) {
        scanCurveLeaf(bits, map, state, orientation, rowStart, rowEnd, colStart, colEnd);
        return;
    }
    int32_t mr = rowStart + (h >> 1);
    int32_t mc = colStart + (w >> 1);
    // Quadrants: 0 TL, 1 TR, 2 BL, 3 BR, with the orientation each is walked in.
    static const uint8_t order[4][4][2] = {
        {{1, 3}, {3, 0}, {2, 0}, {0, 2}},
        {{2, 2}, {0, 1}, {1, 1}, {3, 3}},
        {{2, 1}, {3, 2}, {1, 2}, {0, 0}},
        {{1, 0}, {0, 3}, {2, 3}, {3, 1}},
    };
    for (int32_t i = 0; i < 4; i++) {
        int32_t q = order[orientation & 3][i][0];
        int32_t o = order[orientation & 3][i][1];
        int32_t r0 = q < 2 ? rowStart : mr;
        int32_t r1 = q < 2 ? mr : rowEnd;
        int32_t c0 = (q & 1) ? mc : colStart;
        int32_t c1 = (q & 1) ? colEnd : mc;
        scanCurveRect(bits, map, state, o, r0, r1, c0, c1);
    }
}

int32_t decodeRunMapCurve(BitReader* bits, uint8_t** map, int32_t rows, int32_t cols,
                          int32_t levels)
{
    RunMapState state;
    if (!beginRunMap(bits, &state, rows, cols, levels))
        return 0;
    // Band order and orientations alternate between even and odd levels.
    static const uint8_t bandOrder[2][3][2] = {
        {{0, 3}, {2, 0}, {1, 0}},
        {{1, 1}, {2, 2}, {0, 2}},
    };
    for (int32_t L = 0; L < levels && !(bits->endOfData & 1); L++) {
        for (int32_t i = 0; i < 3; i++) {
            int32_t t = bandOrder[L & 1][i][0];
            BandRect b = bandRect(rows, cols, L, t);
            enterMapBand(&state.mark, L, t, b.rowEnd, b.colEnd);
            scanCurveRect(bits, map, &state, bandOrder[L & 1][i][1], b.rowStart, b.rowEnd,
                          b.colStart, b.colEnd);
        }
    }
    endRunMap(&state);
    return 1;
}

#include "codec/progressive/map_scans.h"

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/entropy/adaptive_huffman.h"

namespace {

// Children of coordinate x at the next finer level, by case code.
struct ChildSpan {
    int32_t first;
    int32_t count;
};

inline ChildSpan childSpan(uint8_t code, int32_t x, bool last)
{
    switch (code) {
    case 0: return {2 * x - 1, last ? 1 : 2};
    case 1: return {2 * x - 1, 2};
    case 2: return {2 * x - 2, 2};
    case 3: return {2 * x - 2, last ? 3 : 2};
    case 4: return {2 * x, last ? 0 : 2};
    case 5: return {2 * x, last ? 1 : 2};
    default: return {0, 0};
    }
}

} // namespace

void markChildren(uint8_t** flags, uint8_t* const* rowCases, uint8_t* const* columnCases, int32_t b, int32_t L,
                  int32_t row, int32_t col, int32_t endRow, int32_t endCol)
{
    ChildSpan rows = childSpan(rowCases[b][L - 1], row, row == endRow - 1);
    ChildSpan cols = childSpan(columnCases[b][L - 1], col, col == endCol - 1);
    for (int32_t i = 0; i < rows.count; i++) {
        uint8_t* line = flags[rows.first + i];
        for (int32_t j = 0; j < cols.count; j++)
            line[cols.first + j] = FLAG_KNOWN_ZERO;
    }
}

void startBandPass(MapCoderState* state, int32_t height, int32_t width, int32_t L, int32_t b, int32_t* rowStart,
                   int32_t* rowEnd, int32_t* colStart, int32_t* colEnd)
{
    if (L == 0 && state->finalLevelDirect != 0)
        state->valueCallback = state->finalValueCallback;
    bandBounds(height, width, L, b, rowStart, rowEnd, colStart, colEnd);
}

void scanRaster(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags, int32_t height,
                int32_t width, int32_t L, int32_t b)
{
    int32_t r0, r1, c0, c1;
    startBandPass(state, height, width, L, b, &r0, &r1, &c0, &c1);
    for (int32_t row = r0; row < r1; row++) {
        for (int32_t col = c0; col < c1; col++) {
            bool zero = flags[row][col] == FLAG_KNOWN_ZERO || state->valueCallback(bits, session, row, col) == 0;
            if (zero && L > 0)
                markChildren(flags, state->rowCases, state->columnCases, b, L, row, col, r1, c1);
        }
    }
}

void scanRuns(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags, int32_t height,
              int32_t width, int32_t L, int32_t b)
{
    int32_t r0, r1, c0, c1;
    startBandPass(state, height, width, L, b, &r0, &r1, &c0, &c1);

    // n counts down as 32-bit two's complement: a length of 0 read at a switch
    // leaves it negative for the rest of the band.
    uint32_t n = static_cast<uint32_t>(decodeHuffmanValue(bits, &state->mapTree));
    bool significantRun = false;
    for (int32_t row = r0; row < r1; row++) {
        for (int32_t col = c0; col < c1; col++) {
            bool significant;
            if (flags[row][col] == FLAG_KNOWN_ZERO) {
                significant = false;
            } else if (n != 0) {
                significant = significantRun;
                n--;
            } else {
                n = static_cast<uint32_t>(decodeHuffmanValue(bits, &state->mapTree));
                significantRun = !significantRun;
                significant = significantRun;
                n--;
            }
            if (significant)
                state->valueCallback(bits, session, row, col);
            else if (L > 0)
                markChildren(flags, state->rowCases, state->columnCases, b, L, row, col, r1, c1);
        }
    }
}

namespace {

struct SerpentineScan {
    BitReader* bits;
    DecodeSession* session;
    MapCoderState* state;
    uint8_t** flags;

    void visit(int32_t row, int32_t col)
    {
        if (flags[row][col] == FLAG_UNTESTED && state->valueCallback(bits, session, row, col) != 0)
            flags[row][col] = FLAG_SIGNIFICANT;
    }

    // Leaf: lines alternate direction, the first as the type says.
    void serpentine(int32_t type, int32_t r0, int32_t r1, int32_t c0, int32_t c1)
    {
        bool forward = true;
        switch (type) {
        case 0: // columns right to left, first one top to bottom
            for (int32_t col = c1 - 1; col >= c0; col--, forward = !forward)
                for (int32_t i = 0; i < r1 - r0; i++)
                    visit(forward ? r0 + i : r1 - 1 - i, col);
            break;
        case 1: // columns left to right, first one bottom to top
            for (int32_t col = c0; col < c1; col++, forward = !forward)
                for (int32_t i = 0; i < r1 - r0; i++)
                    visit(forward ? r1 - 1 - i : r0 + i, col);
            break;
        case 2: // rows bottom to top, first one left to right
            for (int32_t row = r1 - 1; row >= r0; row--, forward = !forward)
                for (int32_t j = 0; j < c1 - c0; j++)
                    visit(row, forward ? c0 + j : c1 - 1 - j);
            break;
        default: // rows top to bottom, first one right to left
            for (int32_t row = r0; row < r1; row++, forward = !forward)
                for (int32_t j = 0; j < c1 - c0; j++)
                    visit(row, forward ? c1 - 1 - j : c0 + j);
            break;
        }
    }

    void scan(int32_t type, int32_t r0, int32_t r1, int32_t c0, int32_t c1)
    {
        if (c1 - c0 <= 2 || r1 - r0 <= 2) {
            serpentine(type, r0, r1, c0, c1);
            return;
        }
        const int32_t m = r0 + ((r1 - r0) >> 1);
        const int32_t k = c0 + ((c1 - c0) >> 1);
        switch (type) {
        case 0:
            scan(3, r0, m, k, c1); // TR
            scan(0, m, r1, k, c1); // BR
            scan(0, m, r1, c0, k); // BL
            scan(2, r0, m, c0, k); // TL
            break;
        case 1:
            scan(2, m, r1, c0, k); // BL
            scan(1, r0, m, c0, k); // TL
            scan(1, r0, m, k, c1); // TR
            scan(3, m, r1, k, c1); // BR
            break;
        case 2:
            scan(1, m, r1, c0, k); // BL
            scan(2, m, r1, k, c1); // BR
            scan(2, r0, m, k, c1); // TR
            scan(0, r0, m, c0, k); // TL
            break;
        default:
            scan(0, r0, m, k, c1); // TR
            scan(3, r0, m, c0, k); // TL
            scan(3, m, r1, c0, k); // BL
            scan(1, m, r1, k, c1); // BR
            break;
        }
    }
};

} // namespace

void scanSerpentine(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags,
                    int32_t height, int32_t width, int32_t L, int32_t b)
{
    int32_t r0, r1, c0, c1;
    startBandPass(state, height, width, L, b, &r0, &r1, &c0, &c1);
    SerpentineScan walker{bits, session, state, flags};
    walker.scan(0, r0, r1, c0, c1);
    if (L == 0)
        return;
    for (int32_t row = r0; row < r1; row++)
        for (int32_t col = c0; col < c1; col++)
            if (flags[row][col] != FLAG_SIGNIFICANT)
                markChildren(flags, state->rowCases, state->columnCases, b, L, row, col, r1, c1);
}

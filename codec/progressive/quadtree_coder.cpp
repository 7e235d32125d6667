#include "codec/progressive/quadtree_coder.h"

#include "codec/core/bit_reader.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/progressive/map_scans.h"

bool allKnownZero(uint8_t* const* flags, FlagRect rect)
{
    for (int32_t row = rect.r0; row < rect.r1; row++)
        for (int32_t col = rect.c0; col < rect.c1; col++)
            if (flags[row][col] != FLAG_KNOWN_ZERO)
                return false;
    return true;
}

namespace {

enum Quadrant { TL = 0, TR = 1, BL = 2, BR = 3 };

struct QuadtreeBand {
    BitReader* bits;
    DecodeSession* session;
    MapCoderState* state;
    uint8_t** flags;

    void significant(int32_t row, int32_t col)
    {
        flags[row][col] = FLAG_SIGNIFICANT;
        state->valueCallback(bits, session, row, col);
    }

    // Two single bits, high first: at the end of the data the high bit read
    // still counts, where a 2-bit read would give 0.
    uint32_t twoBits()
    {
        uint32_t high = readBit(bits);
        return (high << 1) | readBit(bits);
    }

    // Cell by cell; the last candidate of a significant group is implied.
    void leafByCells(FlagRect rect, int32_t n, int32_t knownZero)
    {
        for (int32_t row = rect.r0; row < rect.r1; row++) {
            for (int32_t col = rect.c0; col < rect.c1; col++) {
                if (flags[row][col] == FLAG_KNOWN_ZERO)
                    continue;
                if (n == knownZero + 1 || readBit(bits))
                    flags[row][col] = FLAG_SIGNIFICANT;
                else
                    knownZero++;
            }
        }
        for (int32_t row = rect.r0; row < rect.r1; row++)
            for (int32_t col = rect.c0; col < rect.c1; col++)
                if (flags[row][col] == FLAG_SIGNIFICANT)
                    state->valueCallback(bits, session, row, col);
    }

    // Prefix code of the significance pattern of a full leaf of four cells
    // (bit 8 first cell, 4 second, 2 third, 1 fourth).
    uint32_t leafPattern()
    {
        static const uint8_t singles[4] = {8, 4, 2, 1};
        static const uint8_t pairs[4] = {12, 6, 3, 9};
        static const uint8_t triples[4] = {14, 7, 11, 13};
        if (readBit(bits))
            return singles[twoBits()];
        if (readBit(bits)) {
            if (readBit(bits))
                return pairs[twoBits()];
            return readBit(bits) ? 5 : 10;
        }
        if (readBit(bits))
            return triples[twoBits()];
        return 15;
    }

    void leaf(FlagRect rect)
    {
        int32_t n = (rect.r1 - rect.r0) * (rect.c1 - rect.c0);
        int32_t knownZero = 0;
        for (int32_t row = rect.r0; row < rect.r1; row++)
            for (int32_t col = rect.c0; col < rect.c1; col++)
                knownZero += flags[row][col] == FLAG_KNOWN_ZERO;
        if (knownZero > 0 || n != 4) {
            leafByCells(rect, n, knownZero);
            return;
        }
        uint32_t d = leafPattern();
        uint32_t bit = 8;
        for (int32_t row = rect.r0; row < rect.r1; row++)
            for (int32_t col = rect.c0; col < rect.c1; col++, bit >>= 1)
                if (d & bit)
                    significant(row, col);
    }

    void split(FlagRect rect)
    {
        const int32_t m = rect.r0 + ((rect.r1 - rect.r0) >> 1);
        const int32_t k = rect.c0 + ((rect.c1 - rect.c0) >> 1);
        const FlagRect q[4] = {
            {rect.r0, m, rect.c0, k},
            {rect.r0, m, k, rect.c1},
            {m, rect.r1, rect.c0, k},
            {m, rect.r1, k, rect.c1},
        };
        bool zero[4];
        int32_t u = 0;
        for (int i = 0; i < 4; i++) {
            zero[i] = allKnownZero(flags, q[i]);
            u += zero[i];
        }

        if (u > 0) {
            for (int i = TL; i <= BL; i++) {
                if (zero[i])
                    continue;
                if (u == 3 || readBit(bits))
                    decode(q[i]);
                else
                    u++;
            }
            if (!zero[BR] && (u == 3 || readBit(bits)))
                decode(q[BR]);
            return;
        }

        static const uint8_t pairs[4][2] = {{TL, TR}, {BL, BR}, {TL, BL}, {TR, BR}};
        static const uint8_t diagonals[2][2] = {{TL, BR}, {TR, BL}};
        static const uint8_t triples[4][3] = {{TL, TR, BR}, {TR, BR, BL}, {BR, BL, TL}, {BL, TL, TR}};
        if (readBit(bits)) {
            decode(q[twoBits()]);
        } else if (readBit(bits)) {
            const uint8_t* order = readBit(bits) ? pairs[twoBits()] : diagonals[readBit(bits)];
            decode(q[order[0]]);
            decode(q[order[1]]);
        } else if (readBit(bits)) {
            const uint8_t* order = triples[twoBits()];
            for (int i = 0; i < 3; i++)
                decode(q[order[i]]);
        } else {
            for (int i = TL; i <= BR; i++)
                decode(q[i]);
        }
    }

    void decode(FlagRect rect)
    {
        if (rect.c1 - rect.c0 > 2 && rect.r1 - rect.r0 > 2)
            split(rect);
        else
            leaf(rect);
    }

    void blockSymbols(FlagRect rect)
    {
        for (int32_t row = rect.r0; row < rect.r1; row += 2) {
            for (int32_t col = rect.c0; col < rect.c1; col += 2) {
                FlagRect block = {row, row + 2 < rect.r1 ? row + 2 : rect.r1, col,
                                  col + 2 < rect.c1 ? col + 2 : rect.c1};
                if (allKnownZero(flags, block))
                    continue;
                uint32_t s = static_cast<uint32_t>(decodeHuffmanSymbol(&state->mapTree, bits, 4));
                int32_t bit = (block.r1 - block.r0) * (block.c1 - block.c0) - 1;
                for (int32_t r = block.r0; r < block.r1; r++)
                    for (int32_t c = block.c0; c < block.c1; c++, bit--)
                        if ((s >> bit) & 1u)
                            significant(r, c);
            }
        }
    }
};

} // namespace

void decodeBlockSymbols(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags,
                        FlagRect rect)
{
    QuadtreeBand band{bits, session, state, flags};
    band.blockSymbols(rect);
}

void decodeQuadtree(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags,
                    FlagRect rect)
{
    QuadtreeBand band{bits, session, state, flags};
    band.decode(rect);
}

void decodeQuadtreeBand(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags,
                        int32_t height, int32_t width, int32_t L, int32_t b)
{
    FlagRect rect;
    startBandPass(state, height, width, L, b, &rect.r0, &rect.r1, &rect.c0, &rect.c1);
    if (readBit(bits)) {
        if (readBit(bits))
            decodeBlockSymbols(bits, session, state, flags, rect);
        else
            decodeQuadtree(bits, session, state, flags, rect);
    }
    if (L == 0)
        return;
    for (int32_t row = rect.r0; row < rect.r1; row++)
        for (int32_t col = rect.c0; col < rect.c1; col++)
            if (flags[row][col] != FLAG_SIGNIFICANT)
                markChildren(flags, state->rowCases, state->columnCases, b, L, row, col, rect.r1, rect.c1);
}

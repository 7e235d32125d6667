// The quadtree significance code shared by one-pass map coder 2 and the
// level-progressive quadtree mode: recursive splits into quadrants named by
// prefix codes, leaves of at most two rows or columns coded cell by cell or,
// for four cells without known ones, by a block pattern code.
#pragma once
#include <cstdint>

struct BitReader;

// What the encoder knows of one band while it codes it.
struct QuadtreeBand {
    // Positions the decoder already knows (and never codes).
    virtual bool known(int32_t row, int32_t col) const = 0;
    // Positions the code must make significant.
    virtual bool significant(int32_t row, int32_t col) const = 0;
    // Called for the significant cells of a leaf in raster order, after the
    // leaf's code, as the decoder settles them.
    virtual void settle(int32_t row, int32_t col) = 0;

    bool allKnown(int32_t r0, int32_t r1, int32_t c0, int32_t c1) const;
    bool anySignificant(int32_t r0, int32_t r1, int32_t c0, int32_t c1) const;

protected:
    ~QuadtreeBand() = default;
};

// Codes rows [r0, r1) x columns [c0, c1), which holds at least one
// significant position.
void encodeQuadtreeRect(BitReader* writer, QuadtreeBand* band, int32_t r0, int32_t r1, int32_t c0,
                        int32_t c1);

// Prefix code of a nonempty set of quadrants (bit 0 top left, 1 top right,
// 2 bottom left, 3 bottom right); order receives the quadrants in the order
// the decoder visits them. Returns how many.
int32_t writeQuadrantSet(BitReader* writer, uint32_t set, int32_t order[4]);
// Prefix code of a nonzero 4-bit pattern (8 for the first cell in raster order).
void writeBlockPattern(BitReader* writer, uint32_t pattern);

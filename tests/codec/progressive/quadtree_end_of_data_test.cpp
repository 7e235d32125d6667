// Bit-level checks of the level-progressive coders against hand-built
// streams, for details that only show at the end of the data.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/core/bit_reader.h"
#include "codec/progressive/map_scans.h"
#include "codec/progressive/quadtree_coder.h"
#include "progressive_support.h"

namespace {

std::vector<Position> visited;

int32_t recordVisit(BitReader*, DecodeSession*, int32_t row, int32_t col)
{
    visited.push_back({row, col});
    return 1;
}

// A flag map of untested positions and a memory reader over `bytes`.
struct QuadtreeInput {
    static constexpr int32_t kHeight = 8;
    static constexpr int32_t kWidth = 8;
    uint8_t block[kHeight][kWidth];
    uint8_t* rows[kHeight];
    MapCoderState state;
    std::vector<uint8_t> bytes;
    BitReader* reader;

    explicit QuadtreeInput(std::vector<uint8_t> data) : bytes(std::move(data))
    {
        std::memset(block, FLAG_UNTESTED, sizeof block);
        for (int32_t r = 0; r < kHeight; r++)
            rows[r] = block[r];
        std::memset(&state, 0, sizeof state);
        state.valueCallback = recordVisit;
        reader = createMemoryReader(bytes);
        visited.clear();
    }
    ~QuadtreeInput() { releaseBitReader(reader); }
    void decode(FlagRect rect) { decodeQuadtree(reader, nullptr, &state, rows, rect); }
};

// The 2-bit fields of the quadtree codes are two single bits, high bit first:
// when the data end between them, the high bit already read still counts
// (a 2-bit read would drop it and give 0).
TEST(QuadtreeEndOfData, QuadtreeTwoBitFieldsKeepTheirHighBitAtTheEnd)
{
    // Six filler bits, then "1" (one quadrant) and the high bit 1 of B; the
    // data end before B's low bit, so B = 2: the bottom-left quadrant. Its
    // full-leaf pattern then reads zeros only ("000" = all four cells).
    {
        QuadtreeInput in({0x03});
        EXPECT_EQ(readBits(in.reader, 6), 0u);
        in.decode(FlagRect{0, 4, 4, 8});
        EXPECT_EQ(in.reader->endOfData, 1u);
        const std::vector<Position> bottomLeft = {{2, 4}, {2, 5}, {3, 4}, {3, 5}};
        EXPECT_EQ(visited, bottomLeft);
        EXPECT_EQ(in.block[0][4], FLAG_UNTESTED);
    }
    // A full 2 x 2 leaf coded "1 1" and cut before its last bit: pattern 2,
    // the bottom-left cell alone.
    {
        QuadtreeInput in({0x03});
        EXPECT_EQ(readBits(in.reader, 6), 0u);
        in.decode(FlagRect{0, 2, 0, 2});
        const std::vector<Position> bottomLeft = {{1, 0}};
        EXPECT_EQ(visited, bottomLeft);
        EXPECT_EQ(in.block[0][0], FLAG_UNTESTED);
        EXPECT_EQ(in.block[1][0], FLAG_SIGNIFICANT);
    }
    // A pair code "0 1 1, B" cut after B's high bit: B = 2, TL then BL.
    {
        QuadtreeInput in({0x07});
        EXPECT_EQ(readBits(in.reader, 4), 0u);
        in.decode(FlagRect{0, 4, 4, 8});
        const std::vector<Position> expected = {{0, 4}, {0, 5}, {1, 4}, {1, 5},
                                                {2, 4}, {2, 5}, {3, 4}, {3, 5}};
        EXPECT_EQ(visited, expected);
    }
}

} // namespace

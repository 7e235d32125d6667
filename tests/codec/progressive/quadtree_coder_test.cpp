#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/progressive/map_scans.h"
#include "codec/progressive/quadtree_coder.h"
#include "progressive_support.h"

namespace {

std::vector<Position> calls;

int32_t recordCall(BitReader*, DecodeSession*, int32_t row, int32_t col)
{
    calls.push_back({row, col});
    return 1;
}

// Bits given as a string of '0' and '1'.
std::vector<uint8_t> bitString(const std::string& bits)
{
    BitSink s;
    for (char c : bits)
        s.bit(c == '1');
    return s.finish();
}

struct Fixture {
    int32_t height, width;
    std::vector<uint8_t> block;
    std::vector<uint8_t*> rows;
    MapCoderState state;
    std::vector<uint8_t> bytes;
    BitReader* reader = nullptr;

    Fixture(int32_t h, int32_t w) : height(h), width(w), block(static_cast<size_t>(h) * w, FLAG_UNTESTED)
    {
        for (int32_t r = 0; r < h; r++)
            rows.push_back(block.data() + static_cast<size_t>(r) * w);
        std::memset(&state, 0, sizeof state);
        // Tiny pictures have no levels; their tables are not read at level 0.
        int32_t levels = levelCount(h, w) > 0 ? levelCount(h, w) : 1;
        EXPECT_EQ(makeBandParityTables(&state.rowCases, &state.columnCases, h, w, levels), 1);
        EXPECT_EQ(initHuffmanTree(&state.mapTree, 64, 0), 1);
        state.valueCallback = recordCall;
        calls.clear();
    }
    ~Fixture()
    {
        freeBandParityTables(state.rowCases, state.columnCases);
        freeHuffmanTree(&state.mapTree);
        releaseBitReader(reader);
    }
    void input(std::vector<uint8_t> data)
    {
        bytes = std::move(data);
        releaseBitReader(reader);
        reader = createMemoryReader(bytes);
    }
    size_t bitsTaken() const { return static_cast<size_t>(::bitsTaken(reader)); }
    uint8_t** map() { return rows.data(); }
    void quadtree(FlagRect rect) { decodeQuadtree(reader, nullptr, &state, map(), rect); }
};

TEST(QuadtreeCoder, BandFlagZeroCostsOneBitAndMarksEveryChild)
{
    Fixture f(20, 18);
    f.input(bitString("0"));
    decodeQuadtreeBand(f.reader, nullptr, &f.state, f.map(), 20, 18, 1, 2);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(f.bitsTaken(), 1u);
    BandRect child = bandRect(20, 18, 0, 2);
    for (int32_t r = child.rowStart; r < child.rowEnd; r++)
        for (int32_t c = child.colStart; c < child.colEnd; c++)
            EXPECT_EQ(f.rows[r][c], FLAG_KNOWN_ZERO);
}

TEST(QuadtreeCoder, ABandTwoRowsHighIsOneLeafWithAnImpliedLastCell)
{
    // Band 1 of a 6 x 8 picture at level 0: rows 4..5, columns 0..4.
    BandRect band = bandRect(6, 8, 0, 1);
    ASSERT_EQ(band.rowEnd - band.rowStart, 2);
    ASSERT_EQ(band.colEnd - band.colStart, 5);

    Fixture f(6, 8);
    // Band flag, quadtree mode, nine zero cells: the tenth needs no bit.
    f.input(bitString("10" "000000000" "1111"));
    decodeQuadtreeBand(f.reader, nullptr, &f.state, f.map(), 6, 8, 0, 1);
    EXPECT_EQ(f.bitsTaken(), 11u);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (Position{5, 4}));
    EXPECT_EQ(f.rows[5][4], FLAG_SIGNIFICANT);

    // Once one cell is significant every remaining cell costs a bit; the
    // values follow after all cells are settled, in raster order.
    Fixture g(6, 8);
    g.input(bitString("10" "01" "00000" "010" "0000"));
    decodeQuadtreeBand(g.reader, nullptr, &g.state, g.map(), 6, 8, 0, 1);
    EXPECT_EQ(g.bitsTaken(), 12u);
    std::vector<Position> expected = {{4, 1}, {5, 3}};
    EXPECT_EQ(calls, expected);
}

TEST(QuadtreeCoder, LeafWithAKnownZeroIsCodedCellByCell)
{
    Fixture f(20, 18);
    FlagRect rect{2, 4, 6, 8};
    f.rows[2][6] = FLAG_KNOWN_ZERO;
    // Two zero cells: the last one is significant without a bit.
    f.input(bitString("00" "111111"));
    f.quadtree(rect);
    EXPECT_EQ(f.bitsTaken(), 2u);
    std::vector<Position> expected = {{3, 7}};
    EXPECT_EQ(calls, expected);

    Fixture g(20, 18);
    g.rows[3][7] = FLAG_KNOWN_ZERO;
    g.input(bitString("111" "00000"));
    g.quadtree(rect);
    EXPECT_EQ(g.bitsTaken(), 3u);
    expected = {{2, 6}, {2, 7}, {3, 6}};
    EXPECT_EQ(calls, expected);
}

TEST(QuadtreeCoder, FullLeafPatternCodes)
{
    struct Code {
        const char* bits;
        uint32_t d;
    };
    const Code codes[] = {
        {"100", 8},    {"101", 4},    {"110", 2},    {"111", 1},    {"0100", 10}, {"0101", 5},
        {"01100", 12}, {"01101", 6},  {"01110", 3},  {"01111", 9},  {"00100", 14}, {"00101", 7},
        {"00110", 11}, {"00111", 13}, {"000", 15},
    };
    for (const Code& code : codes) {
        Fixture f(20, 18);
        FlagRect rect{6, 8, 10, 12};
        f.input(bitString(std::string(code.bits) + "11111111"));
        f.quadtree(rect);
        EXPECT_EQ(f.bitsTaken(), std::strlen(code.bits)) << code.bits;
        std::vector<Position> expected;
        const Position cells[4] = {{6, 10}, {6, 11}, {7, 10}, {7, 11}};
        for (int i = 0; i < 4; i++)
            if (code.d & (8u >> i))
                expected.push_back(cells[i]);
        EXPECT_EQ(calls, expected) << code.bits;
    }
}

TEST(QuadtreeCoder, QuadrantPrefixCodesGiveTheDecodingOrder)
{
    // A 4 x 4 rectangle; every significant quadrant is a full 2 x 2 leaf
    // coded as "100" (its first cell alone), so each call names a quadrant.
    const Position corner[4] = {{0, 4}, {0, 6}, {2, 4}, {2, 6}}; // TL TR BL BR
    struct Case {
        const char* prefix;
        std::vector<int> quadrants;
    };
    const Case cases[] = {
        {"100", {0}},         {"101", {1}},         {"110", {2}},         {"111", {3}},
        {"01100", {0, 1}},    {"01101", {2, 3}},    {"01110", {0, 2}},    {"01111", {1, 3}},
        {"0101", {1, 2}},     {"0100", {0, 3}},     {"00100", {0, 1, 3}}, {"00101", {1, 3, 2}},
        {"00110", {3, 2, 0}}, {"00111", {2, 0, 1}}, {"000", {0, 1, 2, 3}},
    };
    for (const Case& c : cases) {
        Fixture f(20, 18);
        std::string bits = c.prefix;
        for (size_t i = 0; i < c.quadrants.size(); i++)
            bits += "100";
        f.input(bitString(bits + "1111"));
        f.quadtree(FlagRect{0, 4, 4, 8});
        EXPECT_EQ(f.bitsTaken(), bits.size()) << c.prefix;
        std::vector<Position> expected;
        for (int q : c.quadrants)
            expected.push_back(corner[q]);
        EXPECT_EQ(calls, expected) << c.prefix;
    }
}

TEST(QuadtreeCoder, KnownZeroQuadrantsCostNothing)
{
    // TL, TR and BL known zero: BR is decoded without any bit of its own.
    Fixture f(20, 18);
    for (int32_t r = 0; r < 4; r++)
        for (int32_t c = 4; c < 8; c++)
            if (r < 2 || c < 6)
                f.rows[r][c] = FLAG_KNOWN_ZERO;
    f.input(bitString("000" "11111"));
    f.quadtree(FlagRect{0, 4, 4, 8});
    EXPECT_EQ(f.bitsTaken(), 3u);
    EXPECT_EQ(calls.size(), 4u);

    // BR known zero: TL and TR read 0, so BL is implied; then BR is skipped.
    Fixture g(20, 18);
    for (int32_t r = 2; r < 4; r++)
        for (int32_t c = 6; c < 8; c++)
            g.rows[r][c] = FLAG_KNOWN_ZERO;
    g.input(bitString("00" "100" "11111"));
    g.quadtree(FlagRect{0, 4, 4, 8});
    EXPECT_EQ(g.bitsTaken(), 5u);
    std::vector<Position> expected = {{2, 4}};
    EXPECT_EQ(calls, expected);

    // TR known zero: TL 1, BL 0, then BR still reads its bit (0: stop).
    Fixture h(20, 18);
    for (int32_t r = 0; r < 2; r++)
        for (int32_t c = 6; c < 8; c++)
            h.rows[r][c] = FLAG_KNOWN_ZERO;
    h.input(bitString("1" "101" "0" "0" "1111"));
    h.quadtree(FlagRect{0, 4, 4, 8});
    EXPECT_EQ(h.bitsTaken(), 6u);
    expected = {{0, 5}};
    EXPECT_EQ(calls, expected);
}

TEST(QuadtreeCoder, BlockSymbolsOnAThreeByThreeBand)
{
    // Band 0 of a 5 x 7 picture at level 0: rows 0..2, columns 4..6.
    BandRect band = bandRect(5, 7, 0, 0);
    ASSERT_EQ(band.rowEnd, 3);
    ASSERT_EQ(band.colStart, 4);

    // Blocks 2 x 2, 2 x 1, 1 x 2, 1 x 1, coded with the encoder's own tree.
    AdaptiveHuffmanTree tree;
    ASSERT_EQ(initHuffmanTree(&tree, 64, 0), 1);
    BitSink s;
    s.bit(1).bit(1); // band flag, block mode
    for (int32_t symbol : {0b1001, 0b01, 0b10, 0b1})
        ASSERT_EQ(encodeHuffmanSymbol(&tree, symbol, s.writer(), 4), 0);
    size_t written = s.bitCount();
    freeHuffmanTree(&tree);

    Fixture f(5, 7);
    f.input(s.finish());
    decodeQuadtreeBand(f.reader, nullptr, &f.state, f.map(), 5, 7, 0, 0);
    EXPECT_EQ(f.bitsTaken(), written);
    std::vector<Position> expected = {{0, 4}, {1, 5}, {1, 6}, {2, 4}, {2, 6}};
    EXPECT_EQ(calls, expected);
}

TEST(QuadtreeCoder, BlockSymbolsSkipKnownZeroBlocksOnly)
{
    AdaptiveHuffmanTree tree;
    ASSERT_EQ(initHuffmanTree(&tree, 64, 0), 1);
    BitSink s;
    s.bit(1).bit(1);
    // The 2 x 2 block has one known-zero cell, which still owns a bit; the
    // 1 x 2 block is all known zero and reads no symbol.
    for (int32_t symbol : {0b0110, 0b00, 0b1})
        ASSERT_EQ(encodeHuffmanSymbol(&tree, symbol, s.writer(), 4), 0);
    size_t written = s.bitCount();
    freeHuffmanTree(&tree);

    Fixture f(5, 7);
    f.rows[0][4] = FLAG_KNOWN_ZERO;
    f.rows[2][4] = FLAG_KNOWN_ZERO;
    f.rows[2][5] = FLAG_KNOWN_ZERO;
    f.input(s.finish());
    decodeQuadtreeBand(f.reader, nullptr, &f.state, f.map(), 5, 7, 0, 0);
    EXPECT_EQ(f.bitsTaken(), written);
    std::vector<Position> expected = {{0, 5}, {1, 4}, {2, 6}};
    EXPECT_EQ(calls, expected);
}

TEST(QuadtreeCoder, MarksChildrenOfEveryInsignificantPosition)
{
    const int32_t h = 20, w = 18;
    BandRect band = bandRect(h, w, 1, 0);
    Fixture f(h, w);
    // Block mode: first block has its first cell significant, then every
    // other block is empty.
    AdaptiveHuffmanTree tree;
    ASSERT_EQ(initHuffmanTree(&tree, 64, 0), 1);
    BitSink s;
    s.bit(1).bit(1);
    int32_t blocks = ((band.rowEnd - band.rowStart + 1) / 2) * ((band.colEnd - band.colStart + 1) / 2);
    ASSERT_EQ(encodeHuffmanSymbol(&tree, 0b1000, s.writer(), 4), 0);
    for (int32_t i = 1; i < blocks; i++)
        ASSERT_EQ(encodeHuffmanSymbol(&tree, 0, s.writer(), 4), 0);
    freeHuffmanTree(&tree);
    f.input(s.finish());
    decodeQuadtreeBand(f.reader, nullptr, &f.state, f.map(), h, w, 1, 0);
    ASSERT_EQ(calls.size(), 1u);
    BandRect child = bandRect(h, w, 0, 0);
    size_t known = 0;
    for (int32_t r = child.rowStart; r < child.rowEnd; r++)
        for (int32_t c = child.colStart; c < child.colEnd; c++)
            known += f.rows[r][c] == FLAG_KNOWN_ZERO;
    size_t area = static_cast<size_t>(child.rowEnd - child.rowStart) * (child.colEnd - child.colStart);
    EXPECT_EQ(known, area - 4);
}

} // namespace

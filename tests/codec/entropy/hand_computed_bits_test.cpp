// Fixed bit strings worked out by hand from the coders' rules, so that a
// misreading shared by an encoder and its decoder cannot hide behind a round trip.
#include "codec/entropy/adaptive_huffman.h"
#include "codec/entropy/arithmetic_coder.h"
#include "codec/entropy/context_model.h"
#include "tests/support/bit_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string bitString(BitSink& buf)
{
    int64_t count = buf.bitCount();
    BitReader* reader = buf.read();
    std::string bits;
    for (int64_t i = 0; i < count; i++)
        bits += readBit(reader) ? '1' : '0';
    return bits;
}

struct Tree {
    AdaptiveHuffmanTree t{};
    Tree(int32_t n, int32_t mode) { EXPECT_EQ(initHuffmanTree(&t, n, mode), 1); }
    ~Tree() { freeHuffmanTree(&t); }
};

} // namespace

// Mode 1, n = 2048, raw width 12. After the start tree (0 = 10, 1 = 000, 2 = 001,
// end = 01, escape = 11) each update reshapes the codewords:
//   2 (001)                       -> 2 = 01, 1 = 000, end = 001, 0 = 10, escape = 11
//   escape, 5 (11 000000000101)   -> 0 = 001, 5 = 101, end = 100, 2 = 01, 1 = 000
//   0 (001)                       -> escape = 001, 0 = 11
//   escape, 2048 (001 1000..0)    -> escape = 000, 1 = 001; 2048 gets no leaf
//   1 (001), end symbol (100)
TEST(HandComputedBits, HuffmanCodewordsFollowTheUpdates)
{
    const std::string escape5 = "11" "000000000101";
    const std::string escape2048 = "001" "100000000000";
    {
        Tree tree(2048, 1);
        BitSink buf;
        writeBitString(buf.writer(), "001" + escape5 + "001" + escape2048 + "001" + "100");
        BitReader* reader = buf.read();
        std::vector<int32_t> got;
        for (int i = 0; i < 6; i++)
            got.push_back(decodeHuffmanSymbol(&tree.t, reader, 12));
        EXPECT_EQ(got, (std::vector<int32_t>{2, 5, 0, 2048, 1, 2048}));
        EXPECT_EQ(buf.bitsRead(), 41);
        EXPECT_EQ(tree.t.nextFreeNode, 11);
        EXPECT_EQ(tree.t.weights[0], 11u);
    }
    {
        Tree tree(2048, 1);
        BitSink buf;
        for (int32_t s : {2, 5, 0, 2048, 1})
            ASSERT_EQ(encodeHuffmanSymbol(&tree.t, s, buf.writer(), 12), 0);
        EXPECT_EQ(bitString(buf), "001" + escape5 + "001" + escape2048 + "001");
    }
}

// A tree with a heavy leaf at the top reaches root weight 0x80000000. The rebuild
// halves the leaves ((w + 1) / 2) and pairs them from the bottom; the new internal
// node of weight 4 goes above the end leaf of equal weight, which reshapes the
// lower levels.
TEST(HandComputedBits, HuffmanRebuildLayout)
{
    struct Entry {
        HuffmanNode node;
        uint32_t weight;
    };
    // n = 3: end symbol 3, escape 4.
    const Entry before[9] = {
        {{-1, 0, 1}, 0x80000000u}, {{0, 1, 0}, 2147483631u}, {{0, 0, 3}, 17}, {{2, 0, 5}, 10}, {{2, 1, 3}, 7},
        {{3, 0, 7}, 6}, {{3, 1, 4}, 4}, {{5, 1, 1}, 3}, {{5, 1, 2}, 3},
    };
    const Entry after[9] = {
        {{-1, 0, 1}, 1073741826u}, {{0, 1, 0}, 1073741816u}, {{0, 0, 3}, 10}, {{2, 0, 5}, 6}, {{2, 0, 7}, 4},
        {{3, 1, 3}, 4}, {{3, 1, 4}, 2}, {{4, 1, 1}, 2}, {{4, 1, 2}, 2},
    };
    auto load = [&](AdaptiveHuffmanTree* t) {
        for (int i = 0; i < 9; i++) {
            t->nodes[i] = before[i].node;
            t->weights[i] = before[i].weight;
            if (before[i].node.childIsLeaf)
                t->leafOf[before[i].node.child] = i;
        }
    };

    Tree direct(3, 1);
    ASSERT_EQ(direct.t.nextFreeNode, 9);
    load(&direct.t);
    rebuildHuffmanTree(&direct.t);
    for (int i = 0; i < 9; i++) {
        EXPECT_EQ(direct.t.nodes[i].parent, after[i].node.parent) << "node " << i;
        EXPECT_EQ(direct.t.nodes[i].childIsLeaf != 0, after[i].node.childIsLeaf != 0) << "node " << i;
        EXPECT_EQ(direct.t.nodes[i].child, after[i].node.child) << "node " << i;
        EXPECT_EQ(direct.t.weights[i], after[i].weight) << "node " << i;
    }
    EXPECT_EQ(std::vector<int32_t>(direct.t.leafOf, direct.t.leafOf + 5), (std::vector<int32_t>{1, 7, 8, 5, 6}));

    // Decoding: 0 is read with the old codewords, its update rebuilds first, and
    // the next codewords are the new ones (end = 100; before: end = 11). The end
    // symbol's update then swaps it with the node of 1 and 2, so 1 = 1000.
    Tree decoded(3, 1);
    load(&decoded.t);
    BitSink buf;
    writeBitString(buf.writer(), "0" "100" "1000");
    BitReader* reader = buf.read();
    EXPECT_EQ(decodeHuffmanSymbol(&decoded.t, reader, 2), 0);
    EXPECT_EQ(decoded.t.weights[0], 1073741827u);
    EXPECT_EQ(decodeHuffmanSymbol(&decoded.t, reader, 2), 3);
    EXPECT_EQ(decodeHuffmanSymbol(&decoded.t, reader, 2), 1);
    EXPECT_EQ(buf.bitsRead(), 8);
}

// Two steps of scale 3 from the start interval: [1, 2) narrows to
// [0x5555, 0xAAA9], which straddles the middle (one deferred bit), then [0, 1)
// settles 0 and the deferred 1. The close adds bit 14 of low (1), one inverse
// (0), 16 zeros and a 1: 0110 0000 0000 0000 0000 1.
TEST(HandComputedBits, ArithmeticStepsAndClose)
{
    const SymbolRange first = {1, 2, 3};
    const SymbolRange second = {0, 1, 3};
    BitSink out;
    ContextModel enc{};
    startArithmeticEncoder(&enc);
    encodeRange(out.writer(), &first, &enc);
    EXPECT_EQ(out.bitCount(), 0);
    EXPECT_EQ(enc.pendingBits, 1);
    EXPECT_EQ(enc.low, 0x2AAA);
    EXPECT_EQ(enc.high, 0xD553);
    encodeRange(out.writer(), &second, &enc);
    EXPECT_EQ(enc.low, 0x5554);
    EXPECT_EQ(enc.high, 0xC719);
    flushArithmeticEncoder(out.writer(), &enc);
    EXPECT_EQ(bitString(out), "0110" "0000000000000000" "1");

    BitSink in;
    writeBitString(in.writer(), "0110" "0000000000000000" "1" "111");
    BitReader* reader = in.read();
    ContextModel dec{};
    startArithmeticDecoder(reader, &dec);
    EXPECT_EQ(dec.code, 0x6000);
    EXPECT_EQ(currentCount(&first, &dec), 1);
    removeSymbol(reader, &first, &dec);
    EXPECT_EQ(dec.low, 0x2AAA);
    EXPECT_EQ(dec.high, 0xD553);
    EXPECT_EQ(dec.code, 0x4000); // bit 14 flipped by the underflow step
    EXPECT_EQ(in.bitsRead(), 17);
    EXPECT_EQ(currentCount(&second, &dec), 0);
    removeSymbol(reader, &second, &dec);
    EXPECT_EQ(dec.code, 0x8000);
    EXPECT_EQ(in.bitsRead(), 18);
    EXPECT_EQ(readBits(reader, 3), 1u); // the closing 0, 0, 1
}

// Whole segments. Order 0, symbols 0, 0, end: 0 from order -1 ([637, 738) of
// 739), 0 from order 0 ([0, 1) of 2, deferring a bit), then escapes [2, 3) of 3
// and [738, 739) of 739 and the end marker [0, 1) of 3 at order -2.
// Order 1, symbols 0, 1, 2, end: the order-0 table {0, 1}, {1, 1} marks 0 as
// excluded, so 2 is [552, 586) of 638 at order -1, and the escape before the end
// marker (0 and 1 excluded) is [586, 587) of 587.
TEST(HandComputedBits, ContextSegmentsBitExact)
{
    struct Segment {
        int32_t maxOrder;
        std::vector<int32_t> symbols;
        std::string bits;
    };
    const std::string close = std::string(16, '0') + "1";
    const Segment segments[] = {
        {0, {0, 0, -1}, "11" "101" "1100010" "011" "01" + close},
        {1, {0, 1, 2, -1}, "11" "1111" "100" "1101" "10" "1101011001" "0" "01" + close},
    };
    for (const Segment& seg : segments) {
        SCOPED_TRACE(seg.maxOrder);
        BitSink out;
        ContextModel* enc = createContextModel();
        startContextEncoder(seg.maxOrder, enc, 0);
        for (int32_t s : seg.symbols)
            encodeContextSymbol(out.writer(), s, enc);
        endContextEncoder(out.writer(), enc);
        EXPECT_EQ(bitString(out), seg.bits);

        BitSink in;
        writeBitString(in.writer(), seg.bits + "1011");
        BitReader* reader = in.read();
        ContextModel* dec = createContextModel();
        startContextDecoder(seg.maxOrder, reader, dec);
        std::vector<int32_t> got;
        for (size_t i = 0; i < seg.symbols.size(); i++)
            got.push_back(decodeContextSymbol(reader, dec));
        EXPECT_EQ(got, seg.symbols);
        endContextDecoder(reader, dec);
        EXPECT_EQ(in.bitsRead(), static_cast<int64_t>(seg.bits.size()));
        EXPECT_EQ(readBits(reader, 4), 0xBu);
    }
}

#include "codec/entropy/adaptive_huffman.h"

#include "codec/core/alloc.h"
#include "tests/support/bit_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// Checks the sibling-property invariants and table consistency.
void expectValidTree(const AdaptiveHuffmanTree& t)
{
    ASSERT_EQ(t.nextFreeNode % 2, 1);
    ASSERT_LE(t.nextFreeNode, 2 * t.symbolCount + 3);
    EXPECT_EQ(t.nodes[0].parent, -1);
    EXPECT_TRUE(t.nodes[t.nextFreeNode - 1].childIsLeaf);
    int leaves = 0;
    for (int i = 0; i < t.nextFreeNode; i++) {
        if (i > 0) {
            ASSERT_GE(t.weights[i - 1], t.weights[i]) << "node " << i;
        }
        const HuffmanNode& node = t.nodes[i];
        if (node.childIsLeaf) {
            leaves++;
            ASSERT_EQ(t.leafOf[node.child], i);
        } else {
            ASSERT_EQ(node.child % 2, 1);
            ASSERT_LT(node.child + 1, t.nextFreeNode);
            ASSERT_EQ(t.nodes[node.child].parent, i);
            ASSERT_EQ(t.nodes[node.child + 1].parent, i);
            ASSERT_EQ(t.weights[i], t.weights[node.child] + t.weights[node.child + 1]);
        }
    }
    EXPECT_EQ(leaves, (t.nextFreeNode + 1) / 2);
    EXPECT_NE(t.leafOf[t.symbolCount], -1);
    EXPECT_NE(t.leafOf[t.symbolCount + 1], -1);
}

struct Tree {
    AdaptiveHuffmanTree t{};
    Tree(int32_t n, int32_t mode) { EXPECT_EQ(initHuffmanTree(&t, n, mode), 1); }
    ~Tree() { freeHuffmanTree(&t); }
};

// Decodes one codeword (plus raw bits when raw >= 0) with a fresh tree.
int32_t decodeFresh(int32_t n, int32_t mode, const std::string& bits, int32_t rawBits, int32_t raw = -1)
{
    Tree tree(n, mode);
    BitSink buf;
    writeBitString(buf.writer(), bits);
    if (raw >= 0)
        writeBits(buf.writer(), rawBits, static_cast<uint32_t>(raw));
    writeBits(buf.writer(), 8, 0xFF);
    int32_t s = decodeHuffmanSymbol(&tree.t, buf.read(), rawBits);
    EXPECT_EQ(buf.bitsRead(), static_cast<int64_t>(bits.size()) + (raw >= 0 ? rawBits : 0));
    return s;
}

} // namespace

TEST(AdaptiveHuffman, StartTreesAndCodewords)
{
    {
        Tree tree(2048, 1);
        EXPECT_EQ(tree.t.nextFreeNode, 9);
        EXPECT_EQ(tree.t.weights[0], 5u);
        expectValidTree(tree.t);
    }
    EXPECT_EQ(decodeFresh(2048, 1, "10", 11), 0);
    EXPECT_EQ(decodeFresh(2048, 1, "000", 11), 1);
    EXPECT_EQ(decodeFresh(2048, 1, "001", 11), 2);
    EXPECT_EQ(decodeFresh(2048, 1, "01", 11), 2048);
    EXPECT_EQ(decodeFresh(2048, 1, "11", 11, 1500), 1500);

    for (int32_t n : {256, 64}) {
        Tree tree(n, 0);
        EXPECT_EQ(tree.t.nextFreeNode, 131);
        EXPECT_EQ(tree.t.weights[0], 66u);
        expectValidTree(tree.t);
        int32_t raw = n == 256 ? 8 : 4;
        EXPECT_EQ(decodeFresh(n, 0, "010001", raw), 0);
        EXPECT_EQ(decodeFresh(n, 0, "110001", raw), 1);
        EXPECT_EQ(decodeFresh(n, 0, "0000011", raw), 63);
        EXPECT_EQ(decodeFresh(n, 0, "0000001", raw), n);
    }
    EXPECT_EQ(decodeFresh(256, 0, "100001", 8, 200), 200);
    EXPECT_EQ(decodeFresh(64, 0, "100001", 4, 9), 9);

    // The encoder writes the same codewords.
    Tree tree(2048, 1);
    BitSink buf;
    EXPECT_EQ(encodeHuffmanSymbol(&tree.t, 0, buf.writer(), 11), 0);
    EXPECT_EQ(buf.bitCount(), 2);
    EXPECT_EQ(readBits(buf.read(), 2), 2u);
}

TEST(AdaptiveHuffman, EscapesAndLeaves)
{
    // Values of n and above never get a leaf: each is escape plus raw bits.
    Tree enc(2048, 1);
    BitSink buf;
    for (int k = 0; k < 2; k++) {
        int64_t before = buf.bitCount();
        EXPECT_EQ(encodeHuffmanSymbol(&enc.t, 3000, buf.writer(), 12), 0);
        EXPECT_GE(buf.bitCount() - before, 12 + 2);
        EXPECT_EQ(enc.t.nextFreeNode, 9);
    }
    // The end symbol too takes the escape.
    EXPECT_EQ(encodeHuffmanSymbol(&enc.t, 2048, buf.writer(), 12), 0);
    Tree dec(2048, 1);
    BitReader* reader = buf.read();
    EXPECT_EQ(decodeHuffmanSymbol(&dec.t, reader, 12), 3000);
    EXPECT_EQ(decodeHuffmanSymbol(&dec.t, reader, 12), 3000);
    EXPECT_EQ(decodeHuffmanSymbol(&dec.t, reader, 12), 2048);
    EXPECT_EQ(dec.t.nextFreeNode, 9);

    // Mode 0, n = 256: 0..63 are in the start tree, the first 64..255 escapes once.
    Tree tree(256, 0);
    BitSink b2;
    EXPECT_EQ(encodeHuffmanSymbol(&tree.t, 63, b2.writer(), 8), 0);
    EXPECT_EQ(b2.bitCount(), 7);
    EXPECT_EQ(encodeHuffmanSymbol(&tree.t, 100, b2.writer(), 8), 0);
    EXPECT_EQ(b2.bitCount(), 7 + 6 + 8);
    EXPECT_EQ(tree.t.nextFreeNode, 133);
    int64_t before = b2.bitCount();
    EXPECT_EQ(encodeHuffmanSymbol(&tree.t, 100, b2.writer(), 8), 0);
    EXPECT_LT(b2.bitCount() - before, 8);
    expectValidTree(tree.t);

    // A raw value that does not fit is refused with nothing written.
    before = b2.bitCount();
    EXPECT_EQ(encodeHuffmanSymbol(&tree.t, 300, b2.writer(), 8), -1);
    EXPECT_EQ(encodeHuffmanSymbol(&tree.t, -1, b2.writer(), 8), -1);
    EXPECT_EQ(b2.bitCount(), before);
}

TEST(AdaptiveHuffman, CorruptEscapeOfKnownSymbolAddsNoLeaf)
{
    Tree tree(2048, 1);
    BitSink buf;
    writeBitString(buf.writer(), "11");
    writeBits(buf.writer(), 4, 1);
    uint32_t weightBefore = tree.t.weights[tree.t.leafOf[1]];
    EXPECT_EQ(decodeHuffmanSymbol(&tree.t, buf.read(), 4), 1);
    EXPECT_EQ(tree.t.nextFreeNode, 9);
    EXPECT_EQ(tree.t.weights[tree.t.leafOf[1]], weightBefore + 1);
    expectValidTree(tree.t);
}

TEST(AdaptiveHuffman, Values)
{
    struct Case {
        std::vector<int32_t> symbols;
        int32_t value;
    };
    const Case cases[] = {{{254}, 254}, {{255, 0, 255}, 255}, {{255, 1, 44}, 300}, {{255, 255, 1, 0, 0}, 65536}};
    for (const Case& c : cases) {
        Tree enc(256, 0), dec(256, 0), viaValue(256, 0);
        BitSink symbols, value;
        for (int32_t s : c.symbols)
            ASSERT_EQ(encodeHuffmanSymbol(&enc.t, s, symbols.writer(), 8), 0);
        ASSERT_EQ(encodeHuffmanValue(value.writer(), &viaValue.t, c.value), 0);
        EXPECT_EQ(decodeHuffmanValue(symbols.read(), &dec.t), c.value);
        value.read();
        EXPECT_EQ(value.bytes(), symbols.bytes());
    }

    std::mt19937 rng(7);
    Tree enc(256, 0), dec(256, 0);
    BitSink buf;
    std::vector<int32_t> values;
    for (int i = 0; i < 20000; i++) {
        int32_t v = static_cast<int32_t>(rng() >> (1 + rng() % 31));
        values.push_back(i % 1000 == 0 ? INT32_MAX : v);
        ASSERT_EQ(encodeHuffmanValue(buf.writer(), &enc.t, values.back()), 0);
    }
    writeBits(buf.writer(), 9, 0x155);
    BitReader* reader = buf.read();
    for (int32_t v : values)
        ASSERT_EQ(decodeHuffmanValue(reader, &dec.t), v);
    EXPECT_EQ(readBits(reader, 9), 0x155u);
    EXPECT_EQ(reader->endOfData, 0u);
    EXPECT_EQ(encodeHuffmanValue(buf.writer(), &enc.t, -5), -1);
}

TEST(AdaptiveHuffman, RoundTripsEveryAlphabetAndWidth)
{
    std::mt19937 rng(11);
    struct Setup {
        int32_t n, mode, rawBits;
    };
    std::vector<Setup> setups = {{256, 0, 8}, {64, 0, 4}};
    for (int32_t w = 0; w <= 16; w++)
        setups.push_back({2048, 1, w});
    for (const Setup& s : setups) {
        SCOPED_TRACE(testing::Message() << "n " << s.n << " raw " << s.rawBits);
        Tree enc(s.n, s.mode), dec(s.n, s.mode);
        BitSink buf;
        std::vector<int32_t> symbols;
        int32_t limit = s.rawBits >= 31 ? INT32_MAX : (1 << s.rawBits);
        for (int i = 0; i < 20000; i++) {
            // Skewed: mostly small magnitudes, a tail of large ones (n and above too).
            int32_t sym = std::geometric_distribution<int32_t>(0.15)(rng);
            if (rng() % 50 == 0)
                sym = static_cast<int32_t>(rng() % (2 * s.n));
            if (sym >= limit && (sym >= s.n || enc.t.leafOf[sym] == -1))
                sym = static_cast<int32_t>(rng() % 3);
            symbols.push_back(sym);
            ASSERT_EQ(encodeHuffmanSymbol(&enc.t, sym, buf.writer(), s.rawBits), 0);
        }
        writeBits(buf.writer(), 5, 0x13);
        BitReader* reader = buf.read();
        for (size_t i = 0; i < symbols.size(); i++)
            ASSERT_EQ(decodeHuffmanSymbol(&dec.t, reader, s.rawBits), symbols[i]) << "symbol " << i;
        EXPECT_EQ(readBits(reader, 5), 0x13u);
        EXPECT_EQ(reader->endOfData, 0u);
        expectValidTree(dec.t);
    }
}

TEST(AdaptiveHuffman, RebuildAtRootWeight0x80000000)
{
    // Leaves keep weight 0 and 1 through a rebuild.
    Tree fresh(2048, 1);
    addHuffmanLeaf(&fresh.t, 7);
    rebuildHuffmanTree(&fresh.t);
    expectValidTree(fresh.t);
    EXPECT_EQ(fresh.t.weights[fresh.t.leafOf[7]], 0u);
    EXPECT_EQ(fresh.t.weights[fresh.t.leafOf[2048]], 1u);
    EXPECT_EQ(fresh.t.weights[fresh.t.leafOf[2049]], 1u);

    // Encoder and decoder pushed to the limit together stay in step.
    std::mt19937 rng(3);
    Tree enc(2048, 1), dec(2048, 1);
    BitSink buf;
    std::vector<int32_t> before, after;
    for (int i = 0; i < 3000; i++) {
        before.push_back(std::geometric_distribution<int32_t>(0.1)(rng));
        encodeHuffmanSymbol(&enc.t, before.back(), buf.writer(), 11);
    }
    // Scaling every weight keeps the sibling property; then the root is set one short.
    uint32_t factor = 0x7FFFFFFFu / enc.t.weights[0];
    for (int32_t i = 0; i < enc.t.nextFreeNode; i++)
        enc.t.weights[i] *= factor;
    enc.t.weights[0] = 0x7FFFFFFFu;
    std::vector<uint32_t> forced(enc.t.weights, enc.t.weights + enc.t.nextFreeNode);

    encodeHuffmanSymbol(&enc.t, 0, buf.writer(), 11);
    EXPECT_EQ(enc.t.weights[0], 0x80000000u); // reached, not yet rebuilt
    std::vector<uint32_t> leafWeight(3);
    for (int32_t s = 0; s < 3; s++)
        leafWeight[s] = enc.t.weights[enc.t.leafOf[s]];
    encodeHuffmanSymbol(&enc.t, 1, buf.writer(), 11); // rebuilds first
    expectValidTree(enc.t);
    EXPECT_EQ(enc.t.weights[enc.t.leafOf[0]], (leafWeight[0] + 1) / 2);
    EXPECT_EQ(enc.t.weights[enc.t.leafOf[1]], (leafWeight[1] + 1) / 2 + 1);
    EXPECT_EQ(enc.t.weights[enc.t.leafOf[2]], (leafWeight[2] + 1) / 2);
    for (int i = 0; i < 2000; i++) {
        after.push_back(std::geometric_distribution<int32_t>(0.1)(rng));
        encodeHuffmanSymbol(&enc.t, after.back(), buf.writer(), 11);
    }
    writeBits(buf.writer(), 3, 5);

    BitReader* reader = buf.read();
    for (int32_t s : before)
        ASSERT_EQ(decodeHuffmanSymbol(&dec.t, reader, 11), s);
    std::copy(forced.begin(), forced.end(), dec.t.weights);
    EXPECT_EQ(decodeHuffmanSymbol(&dec.t, reader, 11), 0);
    EXPECT_EQ(decodeHuffmanSymbol(&dec.t, reader, 11), 1);
    for (int32_t s : after)
        ASSERT_EQ(decodeHuffmanSymbol(&dec.t, reader, 11), s);
    EXPECT_EQ(readBits(reader, 3), 5u);
    expectValidTree(dec.t);
}

TEST(AdaptiveHuffman, EndOfData)
{
    // Already at the end, or the end met at an internal node: -1, tree unchanged.
    Tree tree(2048, 1);
    BitSink empty;
    BitReader* reader = empty.read();
    for (int k = 0; k < 2; k++) {
        EXPECT_EQ(decodeHuffmanSymbol(&tree.t, reader, 11), -1);
        EXPECT_EQ(reader->endOfData, 1u);
        EXPECT_EQ(tree.t.weights[0], 5u);
    }
    // End inside the raw bits of an escape.
    BitSink cut;
    writeBitString(cut.writer(), "11");
    writeBits(cut.writer(), 14, 0x3FFF);
    EXPECT_EQ(decodeHuffmanSymbol(&tree.t, cut.read(1), 14), -1);
    EXPECT_EQ(tree.t.weights[0], 5u);
    EXPECT_EQ(tree.t.nextFreeNode, 9);

    // A codeword whose last bit (a 0) meets the end still decodes its leaf.
    std::mt19937 rng(5);
    for (int attempt = 0; attempt < 200; attempt++) {
        Tree enc(2048, 1);
        BitSink buf;
        std::vector<int32_t> symbols;
        int64_t cutBits = -1;
        for (int i = 0; i < 64 && cutBits < 0; i++) {
            symbols.push_back(static_cast<int32_t>(rng() % 3));
            int64_t before = buf.bitCount();
            encodeHuffmanSymbol(&enc.t, symbols.back(), buf.writer(), 11);
            int64_t after = buf.bitCount();
            uint8_t lastByte = static_cast<uint8_t>(buf.writer()->currentByte);
            bool lastBitZero = after % 8 == 0 ? (buf.bytes().back() & 1) == 0 : (lastByte & (256 >> (after % 8))) == 0;
            if (after - before > 1 && (after - 1) % 8 == 0 && lastBitZero)
                cutBits = after - 1;
        }
        if (cutBits < 0)
            continue;
        Tree dec(2048, 1);
        reader = buf.read(cutBits / 8);
        for (int32_t s : symbols)
            ASSERT_EQ(decodeHuffmanSymbol(&dec.t, reader, 11), s);
        EXPECT_EQ(reader->endOfData, 1u);
        return;
    }
    FAIL() << "no cut found";
}

namespace {

// The update as defined: every node on the path to the root counts one more
// and moves to the front of the nodes that had its old weight.
void updateByDefinition(AdaptiveHuffmanTree* t, int32_t symbol)
{
    if (t->weights[0] == 0x80000000u)
        rebuildHuffmanTree(t);
    int32_t node = t->leafOf[symbol];
    while (node != -1) {
        const uint32_t w = ++t->weights[node];
        int32_t target = node;
        while (target > 0 && t->weights[target - 1] < w)
            target--;
        if (target != node) {
            swapHuffmanNodes(t, node, target);
            node = target;
        }
        node = t->nodes[node].parent;
    }
}

// The descent one readBit at a time, stopping at the end of the data, with the
// escape and the update as defined: what decodeHuffmanSymbol's faster descent
// and update must match.
int32_t decodeBitByBit(AdaptiveHuffmanTree* t, BitReader* reader, int32_t rawBits)
{
    int32_t node = 0;
    while (!t->nodes[node].childIsLeaf) {
        if (reader->endOfData & 1)
            return -1;
        node = t->nodes[node].child + static_cast<int32_t>(readBit(reader));
    }
    const int32_t n = t->symbolCount;
    const int32_t symbol = t->nodes[node].child;
    if (symbol != n + 1) {
        updateByDefinition(t, symbol);
        return symbol;
    }
    const int32_t v = static_cast<int32_t>(readBits(reader, rawBits));
    if (reader->endOfData & 1)
        return -1;
    if (v >= 0 && v < n) {
        if (t->leafOf[v] == -1)
            addHuffmanLeaf(t, v);
        updateByDefinition(t, v);
    } else {
        updateByDefinition(t, n + 1);
    }
    return v;
}

void expectSameTrees(const AdaptiveHuffmanTree& a, const AdaptiveHuffmanTree& b)
{
    ASSERT_EQ(a.nextFreeNode, b.nextFreeNode);
    for (int32_t i = 0; i < a.nextFreeNode; i++) {
        ASSERT_EQ(a.weights[i], b.weights[i]) << "node " << i;
        ASSERT_EQ(a.nodes[i].child, b.nodes[i].child) << "node " << i;
        ASSERT_EQ(a.nodes[i].childIsLeaf, b.nodes[i].childIsLeaf) << "node " << i;
        ASSERT_EQ(a.nodes[i].parent, b.nodes[i].parent) << "node " << i;
    }
    for (int32_t s = 0; s < a.symbolCount + 2; s++)
        ASSERT_EQ(a.leafOf[s], b.leafOf[s]) << "symbol " << s;
}

} // namespace

// Over noise cut anywhere, from memory and from a byte source (which repeats
// its last byte after the end), with raw reads moving the bit position
// between symbols and reads going on past the end: the same values, reader
// states and trees as the bit-by-bit descent and the defined update.
TEST(AdaptiveHuffman, DecodingMatchesThePlainDefinition)
{
    std::mt19937 rng(23);
    for (int round = 0; round < 90; round++) {
        const int32_t n = round % 3 == 0 ? 256 : (round % 3 == 1 ? 64 : 2048);
        const int32_t rawBits = n == 256 ? 8 : (n == 64 ? 4 : static_cast<int32_t>(rng() % 14));
        const bool fromSource = round % 2 == 1;
        SCOPED_TRACE(testing::Message() << "round " << round << " n " << n);
        std::vector<uint8_t> data(1 + rng() % 600);
        for (uint8_t& byte : data)
            byte = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng()); // zeros take long codewords
        Tree fast(n, n == 2048 ? 1 : 0), plain(n, n == 2048 ? 1 : 0);
        ByteFeed fastFeed{&data}, plainFeed{&data};
        BitReader* readers[2];
        for (int k = 0; k < 2; k++) {
            if (fromSource) {
                readers[k] = createBitReader(0);
                attachByteSource(readers[k], ByteFeed::fetch, k == 0 ? &fastFeed : &plainFeed);
            } else {
                readers[k] = createMemoryReader(data);
            }
        }
        for (int call = 0; call < 6000; call++) {
            if (rng() % 4 == 0) {
                const int width = static_cast<int>(rng() % 8);
                ASSERT_EQ(readBits(readers[0], width), readBits(readers[1], width));
            }
            const int32_t v = decodeHuffmanSymbol(&fast.t, readers[0], rawBits);
            ASSERT_EQ(v, decodeBitByBit(&plain.t, readers[1], rawBits)) << "call " << call;
            ASSERT_EQ(readers[0]->mask, readers[1]->mask);
            ASSERT_EQ(readers[0]->currentByte, readers[1]->currentByte);
            // Bytes fetched (a byte source's reader counts from 0).
            auto fetched = [&](const BitReader* r) {
                return fromSource ? r->cursor : r->cursor - reinterpret_cast<uintptr_t>(r->buffer);
            };
            ASSERT_EQ(fetched(readers[0]), fetched(readers[1]));
            ASSERT_EQ(readers[0]->endOfData, readers[1]->endOfData);
            if (call % 64 == 0 || readers[0]->endOfData)
                expectSameTrees(fast.t, plain.t);
            if (readers[0]->endOfData && rng() % 8 == 0)
                break;
        }
        expectSameTrees(fast.t, plain.t);
        for (BitReader* reader : readers)
            releaseBitReader(reader);
    }
}

TEST(AdaptiveHuffman, RandomBitsStayInsideTables)
{
    std::mt19937 rng(99);
    for (int round = 0; round < 60; round++) {
        int32_t n = round % 3 == 0 ? 256 : (round % 3 == 1 ? 64 : 2048);
        int32_t rawBits = n == 256 ? 8 : (n == 64 ? 4 : static_cast<int32_t>(rng() % 32));
        Tree tree(n, n == 2048 ? 1 : 0);
        BitSink buf;
        for (int i = 0; i < 4000; i++)
            writeBits(buf.writer(), 8, rng() & 0xFF);
        BitReader* reader = buf.read();
        while (!reader->endOfData) {
            int32_t v = n == 256 ? decodeHuffmanValue(reader, &tree.t) : decodeHuffmanSymbol(&tree.t, reader, rawBits);
            if (!reader->endOfData && n != 256) {
                ASSERT_GE(v, 0);
            }
        }
        expectValidTree(tree.t);
    }
}

TEST(AdaptiveHuffman, AllocationFailureIsVisible)
{
    AdaptiveHuffmanTree tree;
    setAllocLimit(1000);
    EXPECT_EQ(initHuffmanTree(&tree, 2048, 1), 0);
    setAllocLimit(0);
    EXPECT_EQ(tree.nodes, nullptr);
    EXPECT_EQ(tree.leafOf, nullptr);
    BitSink buf;
    writeBits(buf.writer(), 8, 0xA5);
    EXPECT_EQ(decodeHuffmanSymbol(&tree, buf.read(), 11), -1);
    freeHuffmanTree(&tree);
}

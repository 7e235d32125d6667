#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/core/alloc.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/entropy/context_model.h"
#include "codec/onepass/band_value_decoders.h"
#include "codec/core/dequantiser.h"
#include "codec/core/geometry.h"
#include "codec/synth/synthesis_kernels.h"
#include "tests/codec/onepass/stream_builder.h"

namespace {

// n planes of rows x cols, zeroed including the guard border.
class PlaneSet {
public:
    PlaneSet(int32_t rows, int32_t cols, int32_t n) : rows_(rows), cols_(cols), n_(n), planes_(makePlanes(rows, cols, n))
    {
        for (int32_t i = 0; i < n; i++)
            for (int32_t r = -1; r < rows; r++)
                for (int32_t c = -1; c < cols; c++)
                    planes_[i][r][c] = 0;
    }
    ~PlaneSet() { freePlanes(planes_, n_); }
    PlaneSet(const PlaneSet&) = delete;
    PlaneSet& operator=(const PlaneSet&) = delete;
    Plane* get() { return planes_; }
    bool equals(const PlaneSet& o) const
    {
        for (int32_t i = 0; i < n_; i++)
            for (int32_t r = -1; r < rows_; r++)
                for (int32_t c = -1; c < cols_; c++)
                    if (planes_[i][r][c] != o.planes_[i][r][c])
                        return false;
        return true;
    }

private:
    int32_t rows_, cols_, n_;
    Plane* planes_;
};

struct Geometry {
    int32_t lowHeight, levelHeight, lowWidth, levelWidth;
};

Geometry geometryOf(int32_t height, int32_t width, int32_t L)
{
    Geometry g;
    bandBounds(height, width, L, 2, &g.lowHeight, &g.levelHeight, &g.lowWidth, &g.levelWidth);
    return g;
}

void addReference(Plane plane, int32_t v, const Geometry& g, int32_t band, int32_t r, int32_t c)
{
    addCoefficientPlane(plane, v, g.levelHeight, g.levelWidth, g.lowHeight, g.lowWidth, band, r, c);
}

BandValueArgs argsFor(BitReader* bits, Plane* planes, uint8_t** map, int32_t height, int32_t width,
                      int32_t component, int32_t components, int32_t L, int32_t* switchLevel)
{
    BandValueArgs a{};
    a.bits = bits;
    a.planes = planes;
    a.map = map;
    a.height = height;
    a.width = width;
    a.component = component;
    a.components = components;
    a.level = L;
    a.switchLevel = switchLevel;
    a.quantStep = 20;
    return a;
}

TEST(Dequantiser, PlainStepsReconstructAtTheMiddleOrExactlyOneStep)
{
    Dequantiser plain = makeDequantiser(20, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(dequantiseMagnitude(&plain, 0), 10);
    EXPECT_EQ(dequantiseMagnitude(&plain, 1), 30);
    EXPECT_EQ(dequantiseMagnitude(&plain, 2), 50);
    Dequantiser exact1 = makeDequantiser(20, 1, 1, 0, 0, 0, 0);
    Dequantiser exact2 = makeDequantiser(20, 1, 2, 0, 0, 0, 0);
    EXPECT_EQ(dequantiseMagnitude(&exact1, 1), 20);
    EXPECT_EQ(dequantiseMagnitude(&exact1, 2), 50);
    EXPECT_EQ(dequantiseMagnitude(&exact2, 1), 30);
    // A zero step reconstructs every index at 0.
    Dequantiser zero = makeDequantiser(0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(dequantiseMagnitude(&zero, 7), 0);
}

TEST(Dequantiser, FineStepsBelowKThenWholeSteps)
{
    Dequantiser fine = makeDequantiser(20, 0, 0, 1, 0, 3, 0);
    EXPECT_EQ(fine.fineStep, 5);
    EXPECT_EQ(fine.fineCount, 4);
    const int32_t expected[] = {2, 7, 12, 17, 10, 30, 50};
    for (int32_t J = 0; J < 7; J++)
        EXPECT_EQ(dequantiseMagnitude(&fine, J), expected[J]) << J;
    Dequantiser exact = makeDequantiser(20, 1, 1, 1, 0, 3, 0);
    EXPECT_EQ(dequantiseMagnitude(&exact, 1), 5);
    EXPECT_EQ(dequantiseMagnitude(&exact, 5), 20);
    EXPECT_EQ(dequantiseMagnitude(&exact, 6), 50);
}

TEST(Dequantiser, MagnitudeBoostOnlyAtFineLevelsWithoutExactSteps)
{
    // Value coders 0, 1 and 3 have K = 0 here, value coder 2 has K = 1.
    Dequantiser boosted = makeDequantiser(20, 0, 0, 1, 2, 0, 0);
    Dequantiser unary = makeDequantiser(20, 0, 0, 1, 2, 0, 1);
    EXPECT_EQ(dequantiseMagnitude(&boosted, 1), 37);
    EXPECT_EQ(dequantiseMagnitude(&unary, 1), 12);
    Dequantiser coarse = makeDequantiser(20, 0, 2, 1, 2, 0, 0);
    Dequantiser exact = makeDequantiser(20, 1, 0, 1, 2, 0, 0);
    EXPECT_EQ(dequantiseMagnitude(&coarse, 1), 30);
    EXPECT_EQ(dequantiseMagnitude(&exact, 1), 20);
}

TEST(Dequantiser, NegativeAndHugeIndexesWrapAs32Bit)
{
    Dequantiser plain = makeDequantiser(20, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(dequantiseMagnitude(&plain, -1), -10);
    EXPECT_EQ(dequantiseMagnitude(&plain, 0x7FFFFFFF),
              static_cast<int32_t>(0x7FFFFFFFu * 20u + 10u));
    // J < K compares signed: a negative index takes the fine step.
    Dequantiser fine = makeDequantiser(20, 0, 0, 1, 0, 3, 0);
    EXPECT_EQ(dequantiseMagnitude(&fine, -2), -8);
}

TEST(BandValueDecoders, UnaryMagnitudesCountOnesAndAddTheCodeTwoOffset)
{
    // 16 x 16, level 0: band 0 position (0, 9) is an ancestor (code 4), band
    // 2 position (10, 10) explicit (code 2).
    ByteMap map(16, 16);
    map.at(0, 9) = 4;
    map.at(10, 10) = 2;
    BitSink sink;
    sink.bit(0); sink.unary(0);    // +, J = 0
    sink.bit(1); sink.unary(2);    // -, J = 1 + 2
    std::vector<uint8_t> data = sink.finish();
    BitSource src(data);
    PlaneSet planes(16, 16, 1), ref(16, 16, 1);
    BandValueArgs a = argsFor(src.reader(), planes.get(), map.get(), 16, 16, 0, 1, 0, nullptr);
    ASSERT_EQ(selectBandValueDecoder(2, 0, 0)(&a), 1);
    Geometry g = geometryOf(16, 16, 0);
    addReference(ref.get()[0], 10, g, 0, 0, 9);
    addReference(ref.get()[0], -70, g, 2, 10, 10);
    EXPECT_TRUE(planes.equals(ref));
    EXPECT_EQ(src.consumed(), sink.counted());
}

TEST(BandValueDecoders, FixedWidthMagnitudesAndChromaAtHalfScale)
{
    // Colour in low-memory mode: component 1 goes into plane 1 alone, at 2V.
    ByteMap map(40, 40);
    map.at(3, 25) = 2;   // level 0 band 0
    map.at(30, 2) = 4;   // band 1
    for (int32_t width : {0, 6}) {
        BitSink sink;
        sink.bits(5, width);
        sink.bit(1); sink.bits(width, 9);
        sink.bit(0); sink.bits(width, 33);
        std::vector<uint8_t> data = sink.finish();
        BitSource src(data);
        PlaneSet planes(40, 40, 3), ref(40, 40, 3);
        BandValueArgs a = argsFor(src.reader(), planes.get(), map.get(), 40, 40, 1, 3, 0, nullptr);
        a.halfSize = 1;
        a.exactSteps = 1;
        ASSERT_EQ(selectBandValueDecoder(3, 0, 0)(&a), 1);
        Geometry g = geometryOf(40, 40, 0);
        // No offset for code 2; a width of 0 gives J = 0 everywhere.
        addReference(ref.get()[1], -2 * (width ? 9 * 20 + 10 : 10), g, 0, 3, 25);
        addReference(ref.get()[1], 2 * (width ? 33 * 20 + 10 : 10), g, 1, 30, 2);
        EXPECT_TRUE(planes.equals(ref)) << width;
        EXPECT_EQ(src.consumed(), sink.counted());
    }
}

TEST(BandValueDecoders, FixedWidthValuesAtEveryPositionOfAMixedMap)
{
    // Grey, one level: significant codes at every offset within and across
    // groups of eight, sparse and dense rows, for widths read in one piece
    // with the sign (up to 30) and apart from it (31).
    const int32_t size = 44;
    ByteMap map(size, size);
    uint32_t seed = 99;
    for (int32_t r = 0; r < size; r++)
        for (int32_t c = 0; c < size; c++) {
            seed = seed * 1103515245u + 12345u;
            const uint32_t pick = (seed >> 16) % 100;
            const uint32_t density = r % 3 == 0 ? 5 : r % 3 == 1 ? 40 : 95;
            map.at(r, c) = pick >= density ? 1 : pick % 2 ? 2 : 4;
        }
    for (int32_t width : {0, 3, 30, 31}) {
        BitSink sink;
        sink.bits(5, width);
        PlaneSet planes(size, size, 1), ref(size, size, 1);
        Geometry g = geometryOf(size, size, 0);
        uint32_t value = 7;
        for (int32_t band = 0; band < 3; band++) {
            BandRect b = bandRect(size, size, 0, band);
            for (int32_t r = b.rowStart; r < b.rowEnd; r++)
                for (int32_t c = b.colStart; c < b.colEnd; c++) {
                    if (map.at(r, c) == 1)
                        continue;
                    value = value * 69069u + 1u;
                    const bool negative = (value >> 31) != 0;
                    const uint32_t J = width ? (value >> 3) & ((1u << (width < 12 ? width : 12)) - 1u) : 0;
                    sink.bit(negative);
                    sink.bits(width, J);
                    const int32_t v = static_cast<int32_t>(J * 20 + 10);
                    addReference(ref.get()[0], negative ? -v : v, g, band, r, c);
                }
        }
        std::vector<uint8_t> data = sink.finish();
        BitSource src(data);
        BandValueArgs a = argsFor(src.reader(), planes.get(), map.get(), size, size, 0, 1, 0, nullptr);
        ASSERT_EQ(selectBandValueDecoder(3, 0, 0)(&a), 1);
        EXPECT_TRUE(planes.equals(ref)) << width;
        EXPECT_EQ(src.consumed(), sink.counted()) << width;
    }
}

TEST(BandValueDecoders, AdaptiveHuffmanMagnitudesWithEscapes)
{
    ByteMap map(24, 24);
    // Level 1 of 24 x 24 is 13 x 13 with a 7 x 7 low part.
    struct Coef { int32_t band, r, c; uint8_t code; bool negative; int32_t J; };
    const Coef coefs[] = {
        {0, 0, 7, 2, false, 1}, {0, 2, 9, 4, true, 0}, {0, 6, 12, 2, false, 40},
        {1, 7, 0, 2, true, 3}, {2, 12, 12, 4, false, 40},
    };
    for (const Coef& k : coefs)
        map.at(k.r, k.c) = k.code;
    BitSink sink;
    sink.bits(5, 7);
    AdaptiveHuffmanTree tree;
    ASSERT_EQ(initHuffmanTree(&tree, 2048, 1), 1);
    for (const Coef& k : coefs) {
        writeBit(sink.writer(), k.negative);
        ASSERT_EQ(encodeHuffmanSymbol(&tree, k.J - (k.code == 2), sink.writer(), 7), 0);
    }
    freeHuffmanTree(&tree);
    std::vector<uint8_t> data = sink.finish();
    for (int32_t coder : {0, 1}) {
        BitSource src(data);
        PlaneSet planes(24, 24, 1), ref(24, 24, 1);
        int32_t switchLevel = 0;
        BandValueArgs a = argsFor(src.reader(), planes.get(), map.get(), 24, 24, 0, 1, 1, &switchLevel);
        ASSERT_EQ(selectBandValueDecoder(coder, 0, 0)(&a), 1);
        Geometry g = geometryOf(24, 24, 1);
        for (const Coef& k : coefs) {
            int32_t v = k.J * 20 + 10;
            addReference(ref.get()[0], k.negative ? -v : v, g, k.band, k.r, k.c);
        }
        EXPECT_TRUE(planes.equals(ref)) << coder;
        EXPECT_EQ(switchLevel, 0);
        EXPECT_EQ(src.reader()->endOfData, 0u);
    }
}

// Value coder 0 in context-model mode: sign pass, then one segment.
struct CodedValue { int32_t band, r, c; uint8_t code; bool negative; int32_t symbol; };

void writeContextLevel(BitSink& sink, bool readsWidth, const std::vector<CodedValue>& values)
{
    if (readsWidth)
        sink.bits(5, 0);
    for (const CodedValue& v : values)
        sink.bit(v.negative);
    ContextModel* model = createContextModel();
    ASSERT_NE(model, nullptr);
    startContextEncoder(0, model, 0);
    for (const CodedValue& v : values)
        encodeContextSymbol(sink.writer(), v.symbol, model);
    endContextEncoder(sink.writer(), model);
}

void writeHuffmanLevel(BitSink& sink, const std::vector<CodedValue>& values)
{
    sink.bits(5, 5);
    AdaptiveHuffmanTree tree;
    ASSERT_EQ(initHuffmanTree(&tree, 2048, 1), 1);
    for (const CodedValue& v : values) {
        writeBit(sink.writer(), v.negative);
        ASSERT_EQ(encodeHuffmanSymbol(&tree, v.symbol, sink.writer(), 5), 0);
    }
    freeHuffmanTree(&tree);
}

TEST(BandValueDecoders, ValueCoderZeroSwitchesToTheContextModelPerComponent)
{
    // 40 x 40 colour, levels 2..0, low-memory placement (one plane per
    // component). Component 0 reads width 0 at level 2 and stays with the
    // context model; component 1 keeps the Huffman coder.
    const int32_t H = 40, W = 40;
    ByteMap map0(H, W), map1(H, W);
    std::vector<CodedValue> levels0[3], levels1[3];
    auto add = [&](ByteMap& map, std::vector<CodedValue>* lv, int32_t L, int32_t band, int32_t r,
                   int32_t c, uint8_t code, bool neg, int32_t symbol) {
        map.at(r, c) = code;
        lv[L].push_back({band, r, c, code, neg, symbol});
    };
    // Level 2: 11 x 11 (low 6 x 6); level 1: 21 x 21 (low 11); level 0: 40 (low 21).
    add(map0, levels0, 2, 0, 1, 7, 2, true, 3);
    add(map0, levels0, 2, 2, 8, 8, 4, false, 0);
    add(map0, levels0, 1, 1, 15, 4, 2, false, 7);
    add(map0, levels0, 0, 0, 2, 30, 4, true, 12);
    add(map0, levels0, 0, 2, 39, 39, 2, false, 200);
    add(map1, levels1, 2, 1, 9, 1, 2, false, 2);
    add(map1, levels1, 1, 0, 3, 15, 4, true, 5);
    add(map1, levels1, 0, 1, 25, 10, 2, true, 30);

    BitSink sink;
    for (int32_t L = 2; L >= 0; L--) {
        writeContextLevel(sink, L == 2, levels0[L]);
        writeHuffmanLevel(sink, levels1[L]);
    }
    const int64_t written = sink.bitCount();
    std::vector<uint8_t> data = sink.finish();
    BitSource src(data);
    PlaneSet planes(H, W, 3), ref(H, W, 3);
    int32_t switchLevel[2] = {0, 0};
    for (int32_t L = 2; L >= 0; L--)
        for (int32_t i = 0; i < 2; i++) {
            BandValueArgs a = argsFor(src.reader(), planes.get(), i ? map1.get() : map0.get(), H, W,
                                      i, 3, L, &switchLevel[i]);
            a.halfSize = 1;
            ASSERT_EQ(selectBandValueDecoder(0, 0, 0)(&a), 1);
        }
    EXPECT_EQ(switchLevel[0], 2);
    EXPECT_EQ(switchLevel[1], 0);
    EXPECT_EQ(src.reader()->endOfData, 0u);
    EXPECT_EQ(src.consumed(), written);
    for (int32_t L = 2; L >= 0; L--) {
        Geometry g = geometryOf(H, W, L);
        for (int32_t i = 0; i < 2; i++)
            for (const CodedValue& v : (i ? levels1 : levels0)[L]) {
                int32_t m = (v.symbol + (v.code == 2)) * 20 + 10;
                m = v.negative ? -m : m;
                addReference(ref.get()[i], i ? 2 * m : m, g, v.band, v.r, v.c);
            }
    }
    EXPECT_TRUE(planes.equals(ref));
    // The sign pass leaves 3 and 5 for negative values of component 0.
    EXPECT_EQ(map0.at(1, 7), 3);
    EXPECT_EQ(map0.at(2, 30), 5);
    EXPECT_EQ(map1.at(3, 15), 4);
}

TEST(BandValueDecoders, ContextMarkersAreUsedAsMagnitudeIndexes)
{
    // A corrupt stream may hand a marker to the value decoder: the flush
    // marker at a code-2 position gives J = -1, the end marker (last, as the
    // model stays at its lowest order after it) at a code-4 position J = -1
    // too, both wrapping through the dequantiser.
    ByteMap map(16, 16);
    std::vector<CodedValue> values = {
        {0, 0, 9, 2, false, -2}, {0, 1, 9, 2, false, 5}, {2, 12, 12, 4, true, -1},
    };
    for (const CodedValue& v : values)
        map.at(v.r, v.c) = v.code;
    BitSink sink;
    writeContextLevel(sink, true, values);
    std::vector<uint8_t> data = sink.finish();
    BitSource src(data);
    PlaneSet planes(16, 16, 1), ref(16, 16, 1);
    int32_t switchLevel = 0;
    BandValueArgs a = argsFor(src.reader(), planes.get(), map.get(), 16, 16, 0, 1, 0, &switchLevel);
    ASSERT_EQ(selectBandValueDecoder(0, 0, 0)(&a), 1);
    Geometry g = geometryOf(16, 16, 0);
    addReference(ref.get()[0], -10, g, 0, 0, 9);
    addReference(ref.get()[0], 130, g, 0, 1, 9);
    addReference(ref.get()[0], 10, g, 2, 12, 12);
    EXPECT_TRUE(planes.equals(ref));
}

TEST(BandValueDecoders, TheValueThatMeetsTheEndOfDataIsNotAdded)
{
    ByteMap map(16, 16);
    map.at(0, 9) = 2;
    map.at(0, 12) = 2;
    map.at(5, 10) = 2;
    BitSink sink;
    sink.bits(5, 12);
    sink.bit(0); sink.bits(12, 100);
    sink.bit(0); sink.bits(12, 100);
    sink.bit(0); sink.bits(12, 100);
    std::vector<uint8_t> full = sink.finish();
    // Cut inside the second value: 5 + 13 + 4 bits fit in three bytes.
    std::vector<uint8_t> cut(full.begin(), full.begin() + 3);
    BitSource src(cut);
    PlaneSet planes(16, 16, 1), ref(16, 16, 1);
    BandValueArgs a = argsFor(src.reader(), planes.get(), map.get(), 16, 16, 0, 1, 0, nullptr);
    ASSERT_EQ(selectBandValueDecoder(3, 0, 0)(&a), 1);
    EXPECT_EQ(src.reader()->endOfData, 1u);
    addReference(ref.get()[0], 2010, geometryOf(16, 16, 0), 0, 0, 9);
    EXPECT_TRUE(planes.equals(ref));
}

int32_t oneByteOfOnes(void* context, uint32_t* slot)
{
    int32_t* left = static_cast<int32_t*>(context);
    if (*left == 0)
        return 1;
    (*left)--;
    *slot = 0xFF;
    return 0;
}

TEST(BandValueDecoders, UnaryMagnitudesStopWhenABytesSourceRepeatsItsLastByte)
{
    // After the end a byte source's reader repeats its last byte; a unary
    // magnitude begun there must not read on.
    ByteMap map(16, 16);
    map.at(0, 9) = 2;
    map.at(3, 12) = 4;
    int32_t left = 1;
    BitReader* bits = createBitReader(0);
    resetBitReader(bits);
    attachByteSource(bits, oneByteOfOnes, &left);
    readBits(bits, 8);
    PlaneSet planes(16, 16, 1), ref(16, 16, 1);
    BandValueArgs a = argsFor(bits, planes.get(), map.get(), 16, 16, 0, 1, 0, nullptr);
    ASSERT_EQ(selectBandValueDecoder(2, 0, 0)(&a), 1);
    EXPECT_EQ(bits->endOfData, 1u);
    EXPECT_TRUE(planes.equals(ref));
    releaseBitReader(bits);
}

TEST(BandValueDecoders, EightBitTargetAddsRoundedPatternsIntoPixels)
{
    const int32_t H = 16, W = 16;
    ByteMap map(H, W);
    map.at(2, 11) = 2;
    map.at(12, 3) = 4;
    BitSink sink;
    sink.bits(5, 8);
    sink.bit(0); sink.bits(8, 60);
    sink.bit(1); sink.bits(8, 90);
    std::vector<uint8_t> data = sink.finish();
    for (int32_t components : {1, 3}) {
        PixelRows* pixels = makePixelArrays(H, W, components);
        PixelRows* expected = makePixelArrays(H, W, components);
        std::memset(pixels[0][0], 128, H * W * components);
        std::memset(expected[0][0], 128, H * W * components);
        BitSource src(data);
        BandValueArgs a = argsFor(src.reader(), nullptr, map.get(), H, W, components - 1, components, 3, nullptr);
        a.pixelPlanes = pixels;
        ASSERT_EQ(selectBandValueDecoder(3, 1, 0)(&a), 1);
        // The 8-bit target always works on level 0, whatever level is passed.
        Geometry g = geometryOf(H, W, 0);
        addCoefficientColourPixels(expected, components - 1, components, 60 * 20 + 10, g.levelHeight,
                                   g.levelWidth, g.lowHeight, g.lowWidth, 0, 2, 11);
        addCoefficientColourPixels(expected, components - 1, components, -(90 * 20 + 10), g.levelHeight,
                                   g.levelWidth, g.lowHeight, g.lowWidth, 1, 12, 3);
        EXPECT_EQ(std::memcmp(pixels[0][0], expected[0][0], H * W * components), 0) << components;
        EXPECT_NE(std::memcmp(pixels[0][0], std::vector<uint8_t>(H * W * components, 128).data(),
                              H * W * components), 0);
        freePixelArrays(pixels, components);
        freePixelArrays(expected, components);
    }
}

TEST(BandValueDecoders, FullColourPlanesReceiveTheColourSplit)
{
    ByteMap map(16, 16);
    map.at(10, 3) = 2;
    BitSink sink;
    sink.bits(5, 3);
    sink.bit(1); sink.bits(3, 0);
    std::vector<uint8_t> data = sink.finish();
    BitSource src(data);
    PlaneSet planes(16, 16, 3), ref(16, 16, 3);
    BandValueArgs a = argsFor(src.reader(), planes.get(), map.get(), 16, 16, 1, 3, 0, nullptr);
    a.quantStep = 14;
    ASSERT_EQ(selectBandValueDecoder(3, 0, 0)(&a), 1);
    // Fixed width has no code-2 offset: J = 0 gives 7, negative: V = -7, and
    // component 1 adds 2V, -(V >> 1), -2V.
    Geometry g = geometryOf(16, 16, 0);
    addReference(ref.get()[0], -14, g, 1, 10, 3);
    addReference(ref.get()[1], 4, g, 1, 10, 3);
    addReference(ref.get()[2], 14, g, 1, 10, 3);
    EXPECT_TRUE(planes.equals(ref));
}

TEST(BandValueDecoders, CoderAllocationFailuresAreReported)
{
    ByteMap map(16, 16);
    std::vector<uint8_t> data(64, 0);
    PlaneSet planes(16, 16, 1);
    size_t limit = allocLimit();
    for (int32_t coder : {0, 1}) {
        BitSource src(data);
        int32_t switchLevel = 0;
        BandValueArgs a = argsFor(src.reader(), planes.get(), map.get(), 16, 16, 0, 1, 0, &switchLevel);
        setAllocLimit(64);   // below the tree's tables and the context model
        int32_t result = selectBandValueDecoder(coder, 0, 0)(&a);
        setAllocLimit(limit);
        EXPECT_EQ(result, 0) << coder;
    }
}

} // namespace

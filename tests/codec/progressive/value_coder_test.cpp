#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/core/alloc.h"
#include "codec/core/array2d.h"
#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/session/session.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/entropy/context_model.h"
#include "codec/progressive/value_coder.h"
#include "codec/synth/synthesis_kernels.h"
#include "progressive_support.h"

namespace {

constexpr int32_t kHeight = 20;
constexpr int32_t kWidth = 18;

// A session with zeroed planes (and pixel rows) of kHeight x kWidth.
struct ValueSession {
    DecodeSession session;
    int32_t components;
    std::vector<uint8_t> bytes;
    BitReader* reader = nullptr;

    ValueSession(int32_t valueCoder, int32_t comps, uint32_t quantStep, uint8_t pixelFill = 0)
        : components(comps)
    {
        std::memset(&session, 0, sizeof session);
        session.valueCoder = valueCoder;
        session.components = comps;
        session.height = kHeight;
        session.width = kWidth;
        session.quantStep = quantStep;
        session.planes = makePlanes(kHeight, kWidth, comps);
        session.pixelPlanes = makePixelArrays(kHeight, kWidth, comps);
        for (int32_t c = 0; c < comps; c++)
            clearPlane(session.planes[c]);
        std::memset(session.pixelPlanes[0][0], pixelFill, static_cast<size_t>(kHeight) * kWidth * comps);
    }
    ~ValueSession()
    {
        freePlanes(session.planes, components);
        freePixelArrays(session.pixelPlanes, components);
        releaseBitReader(reader);
    }
    static void clearPlane(Plane p)
    {
        for (int32_t r = -1; r < kHeight; r++)
            std::memset(p[r] - 1, 0, sizeof(int32_t) * (kWidth + 1));
    }
    void input(std::vector<uint8_t> data)
    {
        bytes = std::move(data);
        releaseBitReader(reader);
        reader = createMemoryReader(bytes);
    }
    int32_t start(int32_t boost = 0, int32_t fineSteps = 0, uint32_t exact = 0)
    {
        return startValueCoder(reader, &session, session.planes, session.pixelPlanes, kHeight, kWidth, 0,
                               components, session.quantStep, boost, fineSteps, exact);
    }
    int32_t startComponent(int32_t c)
    {
        return startValueCoder(reader, &session, session.planes, session.pixelPlanes, kHeight, kWidth, c,
                               components, session.quantStep, 0, 0, 0);
    }
    void band(int32_t L, int32_t b)
    {
        startBand(&session, L, 0);
        startBand(&session, L, b);
    }
    ValueCoderState& state() { return session.valueCoderState; }
};

bool planesEqual(Plane a, Plane b)
{
    for (int32_t r = 0; r < kHeight; r++)
        if (std::memcmp(a[r], b[r], sizeof(int32_t) * kWidth) != 0)
            return false;
    return true;
}

// A zeroed plane with one coefficient of value v added by the kernel.
struct ReferencePlane {
    Plane plane;
    ReferencePlane()
    {
        plane = makePlane(kHeight, kWidth);
        ValueSession::clearPlane(plane);
    }
    ~ReferencePlane() { freePlane(plane); }
    void add(const ValueCoderState& s, int32_t v, int32_t row, int32_t col)
    {
        addCoefficientPlane(plane, v, s.levelHeight, s.levelWidth, s.lowHeight, s.lowWidth, s.currentBand, row, col);
    }
};

TEST(ValueCoder, DequantisationExamples)
{
    ValueSession vs(2, 1, 20);
    vs.input({});

    ASSERT_EQ(vs.start(), 1);
    const ValueCoderState* s = &vs.state();
    EXPECT_EQ(reconstructMagnitude(s, 0, 0, 1), 10);
    EXPECT_EQ(reconstructMagnitude(s, 1, 0, 1), 30);
    EXPECT_EQ(reconstructMagnitude(s, 2, 0, 1), 50);

    ASSERT_EQ(vs.start(0, 0, 1), 1); // exact steps
    EXPECT_EQ(reconstructMagnitude(s, 1, 0, 1), 20);
    EXPECT_EQ(reconstructMagnitude(s, 1, 0, 0), 30);
    EXPECT_EQ(reconstructMagnitude(s, 2, 0, 1), 50);

    // Fine quantiser: h = 5, K = 4.
    ASSERT_EQ(vs.start(0, 3, 0), 1);
    EXPECT_EQ(s->fineStep, 5);
    EXPECT_EQ(s->fineCount, 4);
    const int32_t fine[] = {2, 7, 12, 17, 10, 30, 50};
    for (int32_t J = 0; J < 7; J++)
        EXPECT_EQ(reconstructMagnitude(s, J, 1, 1), fine[J]) << J;
    ASSERT_EQ(vs.start(0, 3, 1), 1);
    EXPECT_EQ(reconstructMagnitude(s, 1, 1, 1), 5);
    EXPECT_EQ(reconstructMagnitude(s, 5, 1, 1), 20);
    EXPECT_EQ(reconstructMagnitude(s, 1, 1, 0), 7);

    // Boost without fine steps: K = 0, near values grow by 2/8.
    ASSERT_EQ(vs.start(2, 0, 0), 1);
    EXPECT_EQ(s->fineCount, 0);
    EXPECT_EQ(reconstructMagnitude(s, 1, 1, 1), 37);
    EXPECT_EQ(reconstructMagnitude(s, 1, 1, 0), 30);
    // No boost under exact steps.
    ASSERT_EQ(vs.start(2, 0, 1), 1);
    EXPECT_EQ(reconstructMagnitude(s, 1, 1, 1), 20);
    EXPECT_EQ(reconstructMagnitude(s, 2, 1, 1), 50);

    // A fine step that computes to 0 becomes 1.
    ValueSession tiny(2, 1, 3);
    tiny.input({});
    ASSERT_EQ(tiny.start(0, 7, 0), 1);
    EXPECT_EQ(tiny.state().fineStep, 1);
    EXPECT_EQ(tiny.state().fineCount, 3);
}

TEST(ValueCoder, FixedWidthReadsSignAndIndexAndAddsThePattern)
{
    ValueSession vs(3, 1, 20);
    BitSink s;
    s.bits(5, 4);           // escape width
    s.bit(1).bits(4, 2);    // -50
    s.bit(0).bits(4, 0);    // +10
    vs.input(s.finish());
    ASSERT_EQ(vs.start(), 1);
    EXPECT_EQ(vs.state().escapeWidth, 4);
    vs.band(1, 2);
    ValueCallback cb = planeValueCallback(3, 0);
    BandRect band = bandRect(kHeight, kWidth, 1, 2);
    EXPECT_EQ(cb(vs.reader, &vs.session, band.rowStart, band.colStart + 1), 1);
    EXPECT_EQ(cb(vs.reader, &vs.session, band.rowStart + 2, band.colStart), 1);

    ReferencePlane ref;
    ref.add(vs.state(), -50, band.rowStart, band.colStart + 1);
    ref.add(vs.state(), 10, band.rowStart + 2, band.colStart);
    EXPECT_TRUE(planesEqual(vs.session.planes[0], ref.plane));
}

TEST(ValueCoder, PlaneTargetsAreNearBelowLevelTwo)
{
    // Exact steps: J = 1 gives q at levels 0 and 1, 1.5 q from level 2 on.
    for (int32_t L : {0, 1, 2, 3}) {
        ValueSession vs(3, 1, 20);
        BitSink s;
        s.bits(5, 1).bit(0).bit(1);
        vs.input(s.finish());
        ASSERT_EQ(vs.start(0, 0, 1), 1);
        vs.band(L, 2);
        int32_t row = vs.state().lowHeight, col = vs.state().lowWidth;
        EXPECT_EQ(planeValueCallback(3, 0)(vs.reader, &vs.session, row, col), 1);
        ReferencePlane ref;
        ref.add(vs.state(), L < 2 ? 20 : 30, row, col);
        EXPECT_TRUE(planesEqual(vs.session.planes[0], ref.plane)) << L;
    }
}

TEST(ValueCoder, FixedWidthZeroReadsOnlyTheSign)
{
    ValueSession vs(3, 1, 20);
    BitSink s;
    s.bits(5, 0).bit(1).bit(0).bit(1);
    vs.input(s.finish());
    ASSERT_EQ(vs.start(), 1);
    vs.band(2, 0);
    ValueCallback cb = planeValueCallback(3, 0);
    ReferencePlane ref;
    const int32_t expected[] = {-10, 10, -10};
    for (int32_t i = 0; i < 3; i++) {
        int32_t col = vs.state().lowWidth + i;
        EXPECT_EQ(cb(vs.reader, &vs.session, 0, col), 1);
        ref.add(vs.state(), expected[i], 0, col);
    }
    EXPECT_TRUE(planesEqual(vs.session.planes[0], ref.plane));
    EXPECT_EQ(vs.reader->cursor - reinterpret_cast<uintptr_t>(vs.reader->buffer), 1u);
}

TEST(ValueCoder, UnaryAndHuffmanMagnitudes)
{
    // Unary: sign, J ones, a zero. Exact steps near level 0.
    {
        ValueSession vs(2, 1, 20);
        BitSink s;
        s.bit(0).unary(1).bit(1).unary(3);
        vs.input(s.finish());
        ASSERT_EQ(vs.start(0, 0, 1), 1);
        vs.band(0, 1);
        ValueCallback cb = planeValueCallback(2, 0);
        BandRect band = bandRect(kHeight, kWidth, 0, 1);
        EXPECT_EQ(cb(vs.reader, &vs.session, band.rowStart, 0), 1);
        EXPECT_EQ(cb(vs.reader, &vs.session, band.rowStart, 3), 1);
        ReferencePlane ref;
        ref.add(vs.state(), 20, band.rowStart, 0);
        ref.add(vs.state(), -70, band.rowStart, 3);
        EXPECT_TRUE(planesEqual(vs.session.planes[0], ref.plane));
    }
    // Adaptive Huffman: the encoder's tree mirrors the decoder's.
    {
        ValueSession vs(1, 1, 20);
        AdaptiveHuffmanTree tree;
        ASSERT_EQ(initHuffmanTree(&tree, 2048, 1), 1);
        BitSink s;
        s.bits(5, 12);
        const int32_t J[] = {0, 2, 700, 2, 3000};
        for (int32_t i = 0; i < 5; i++) {
            s.bit(i & 1);
            ASSERT_EQ(encodeHuffmanSymbol(&tree, J[i], s.writer(), 12), 0);
        }
        freeHuffmanTree(&tree);
        vs.input(s.finish());
        ASSERT_EQ(vs.start(), 1);
        vs.band(2, 2);
        ValueCallback cb = planeValueCallback(1, 0);
        ReferencePlane ref;
        BandRect band = bandRect(kHeight, kWidth, 2, 2);
        for (int32_t i = 0; i < 5; i++) {
            int32_t row = band.rowStart + (i % 2), col = band.colStart + (i / 2);
            EXPECT_EQ(cb(vs.reader, &vs.session, row, col), 1);
            int32_t v = J[i] * 20 + 10;
            ref.add(vs.state(), (i & 1) ? -v : v, row, col);
        }
        endValueCoder(vs.reader, &vs.session);
        EXPECT_EQ(vs.reader->endOfData, 0u);
        EXPECT_TRUE(planesEqual(vs.session.planes[0], ref.plane));
    }
}

TEST(ValueCoder, ContextModelValuesAndSegmentEnd)
{
    ValueSession vs(0, 1, 20);
    ContextModel* model = createContextModel();
    ASSERT_NE(model, nullptr);
    BitSink s;
    startContextEncoder(1, model, 0);
    for (int32_t value : {1, 0, 4, 300})
        ASSERT_EQ(encodeContextValue(s.writer(), value, model), 0);
    endContextEncoder(s.writer(), model);
    s.bits(8, 0xA5);
    vs.input(s.finish());

    ASSERT_EQ(vs.start(), 1);
    vs.band(1, 0);
    ValueCallback cb = planeValueCallback(0, 0);
    BandRect band = bandRect(kHeight, kWidth, 1, 0);
    ReferencePlane ref;
    // Symbol 1: J 0, negative: -10.
    EXPECT_EQ(cb(vs.reader, &vs.session, 1, band.colStart), 1);
    ref.add(vs.state(), -10, 1, band.colStart);
    // Symbol 0: not significant, nothing added.
    EXPECT_EQ(cb(vs.reader, &vs.session, 2, band.colStart), 0);
    // Symbol 4: J 1, positive: 30. 300: J 149, odd? 300 is even: +2990.
    EXPECT_EQ(cb(vs.reader, &vs.session, 3, band.colStart), 1);
    ref.add(vs.state(), 30, 3, band.colStart);
    EXPECT_EQ(cb(vs.reader, &vs.session, 4, band.colStart), 1);
    ref.add(vs.state(), 149 * 20 + 10, 4, band.colStart);
    EXPECT_TRUE(planesEqual(vs.session.planes[0], ref.plane));

    endValueCoder(vs.reader, &vs.session);
    EXPECT_EQ(vs.state().valueModel, nullptr);
    // The reader stands on the first bit after the segment.
    EXPECT_EQ(readBits(vs.reader, 8), 0xA5u);
    EXPECT_EQ(vs.reader->endOfData, 0u);
}

TEST(ValueCoder, ColourSplitAddsToAllThreePlanes)
{
    // q = 14, J = 0, negative: V = -7; component 1 adds -14, 4, 14.
    ValueSession vs(3, 3, 14);
    BitSink s;
    s.bits(5, 3).bit(1).bits(3, 0);
    vs.input(s.finish());
    ASSERT_EQ(vs.startComponent(1), 1);
    vs.band(1, 1);
    BandRect band = bandRect(kHeight, kWidth, 1, 1);
    EXPECT_EQ(planeValueCallback(3, 0)(vs.reader, &vs.session, band.rowStart + 1, 2), 1);
    const int32_t parts[] = {-14, 4, 14};
    for (int32_t p = 0; p < 3; p++) {
        ReferencePlane ref;
        ref.add(vs.state(), parts[p], band.rowStart + 1, 2);
        EXPECT_TRUE(planesEqual(vs.session.planes[p], ref.plane)) << p;
    }
}

TEST(ValueCoder, EightBitTargetsCountAsNear)
{
    // Grey: exact steps give q for J = 1 at the 8-bit target.
    {
        ValueSession vs(3, 1, 80, 100);
        BitSink s;
        s.bits(5, 2).bit(0).bits(2, 1);
        vs.input(s.finish());
        ASSERT_EQ(vs.start(0, 0, 1), 1);
        vs.band(0, 2);
        BandRect band = bandRect(kHeight, kWidth, 0, 2);
        EXPECT_EQ(pixelValueCallback(3, 0)(vs.reader, &vs.session, band.rowStart + 2, band.colStart + 2), 1);

        std::vector<uint8_t> expected(static_cast<size_t>(kHeight) * kWidth, 100);
        std::vector<uint8_t*> rows;
        for (int32_t r = 0; r < kHeight; r++)
            rows.push_back(expected.data() + static_cast<size_t>(r) * kWidth);
        const ValueCoderState& st = vs.state();
        addCoefficientGray8(rows.data(), 80, st.levelHeight, st.levelWidth, st.lowHeight, st.lowWidth, 2,
                            band.rowStart + 2, band.colStart + 2);
        EXPECT_EQ(0, std::memcmp(vs.session.pixelPlanes[0][0], expected.data(), expected.size()));
    }
    // Colour, fine quantiser with boost: component 2 split into three channels.
    {
        ValueSession vs(3, 3, 40, 128);
        BitSink s;
        s.bits(5, 3).bit(0).bits(3, 2);
        vs.input(s.finish());
        ASSERT_EQ(startValueCoder(vs.reader, &vs.session, vs.session.planes, vs.session.pixelPlanes, kHeight,
                                  kWidth, 2, 3, 40, 4, 0, 0),
                  1);
        vs.band(0, 0);
        BandRect band = bandRect(kHeight, kWidth, 0, 0);
        EXPECT_EQ(pixelValueCallback(3, 1)(vs.reader, &vs.session, 3, band.colStart + 1), 1);

        // V = 2 * 40 + 20 = 100, boosted by 4/8: 150.
        PixelRows* arrays = makePixelArrays(kHeight, kWidth, 3);
        std::memset(arrays[0][0], 128, static_cast<size_t>(kHeight) * kWidth * 3);
        const ValueCoderState& st = vs.state();
        int32_t parts[3];
        splitColourValue(2, 3, 150, parts);
        for (int32_t p = 0; p < 3; p++)
            addCoefficientRgb8(arrays[p], parts[p], st.levelHeight, st.levelWidth, st.lowHeight, st.lowWidth, 0, 3,
                               band.colStart + 1);
        EXPECT_EQ(0, std::memcmp(vs.session.pixelPlanes[0][0], arrays[0][0],
                                 static_cast<size_t>(kHeight) * kWidth * 3));
        freePixelArrays(arrays, 3);
    }
}

TEST(ValueCoder, AValueMeetingTheEndIsNotAdded)
{
    ValueSession vs(3, 1, 20);
    BitSink s;
    s.bits(5, 6).bit(0).bits(2, 3); // the index is cut after two of six bits
    std::vector<uint8_t> bytes = s.finish();
    ASSERT_EQ(bytes.size(), 1u);
    vs.input(bytes);
    ASSERT_EQ(vs.start(), 1);
    vs.band(1, 2);
    BandRect band = bandRect(kHeight, kWidth, 1, 2);
    EXPECT_EQ(planeValueCallback(3, 0)(vs.reader, &vs.session, band.rowStart, band.colStart), 0);
    EXPECT_EQ(vs.reader->endOfData, 1u);
    ReferencePlane zero;
    EXPECT_TRUE(planesEqual(vs.session.planes[0], zero.plane));
}

// A source that delivers one 0xFF byte, then reports the end.
int32_t oneFFByte(void* context, uint32_t* slot)
{
    int* calls = static_cast<int*>(context);
    if ((*calls)++ > 0)
        return 1;
    *slot = 0xFF;
    return 0;
}

TEST(ValueCoder, UnaryStopsAtTheEndOfACallbackSource)
{
    // After the end a callback reader repeats its last byte; the unary count
    // must not read on.
    ValueSession vs(2, 1, 20);
    int calls = 0;
    vs.reader = createBitReader(0);
    attachByteSource(vs.reader, oneFFByte, &calls);
    EXPECT_EQ(readBits(vs.reader, 8), 0xFFu);
    EXPECT_EQ(readBit(vs.reader), 0u);
    ASSERT_EQ(vs.reader->endOfData, 1u);
    ASSERT_EQ(vs.start(), 1);
    vs.band(1, 0);
    for (auto cb : {planeValueCallback(2, 0), planeValueCallback(2, 1), pixelValueCallback(2, 0)})
        EXPECT_EQ(cb(vs.reader, &vs.session, 0, vs.state().lowWidth), 0);
    EXPECT_EQ(calls, 2);
    ReferencePlane zero;
    EXPECT_TRUE(planesEqual(vs.session.planes[0], zero.plane));
}

TEST(ValueCoder, TreeOrModelAllocationFailureSetsStatus8)
{
    for (int32_t coder : {0, 1}) {
        ValueSession vs(coder, 1, 20);
        vs.input(std::vector<uint8_t>(8, 0));
        size_t saved = allocLimit();
        setAllocLimit(64);
        int32_t started = vs.start();
        setAllocLimit(saved);
        EXPECT_EQ(started, 0) << coder;
        EXPECT_EQ(vs.session.status, ZR_OUT_OF_MEMORY);
        EXPECT_EQ(vs.state().valueModel, nullptr);
        EXPECT_EQ(vs.state().valueTree.nodes, nullptr);
    }
}

} // namespace

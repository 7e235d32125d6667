#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/core/array2d.h"
#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/session/session.h"
#include "codec/session/stream_header.h"
#include "codec/encoder/bit_sink.h"
#include "codec/encoder/curve_order.h"
#include "codec/encoder/header_writer.h"
#include "codec/encoder/quadtree_encoder.h"
#include "codec/encoder/quantiser.h"
#include "codec/encoder/significance_planner.h"
#include "codec/recon/lowest_band.h"
#include "codec/onepass/quadtree_map_coder.h"
#include "codec/progressive/map_scans.h"
#include "tests/support/bit_stream.h"

namespace {

TEST(HeaderWriter, DecoderReadsEveryField)
{
    StreamHeader h{300, 1234, 12, 1, 300, 1, 2, 3, 4, 2, 5, 1, 200, 17, 6};
    BitSink w;
    writeStreamHeader(w.writer(), h);
    writeBits(w.writer(), 7, 0x55); // the data that follow start at the next bit
    BitReader* r = w.read();
    DecodeSession s{};
    s.bits = r;
    ASSERT_EQ(readStreamHeader(&s), 0);
    EXPECT_EQ(s.version, 2);
    EXPECT_EQ(s.height, 300);
    EXPECT_EQ(s.width, 1234);
    EXPECT_EQ(s.bitsPerSample, 12);
    EXPECT_EQ(s.components, 1);
    EXPECT_EQ(s.quantStep, 300u);
    EXPECT_EQ(s.decodeMode, 1);
    EXPECT_EQ(s.mapCoder, 2);
    EXPECT_EQ(s.valueCoder, 3);
    EXPECT_EQ(s.fineSteps, 4);
    EXPECT_EQ(s.contrastStretch, 2);
    EXPECT_EQ(s.magnitudeBoost, 5);
    EXPECT_EQ(s.extension1, 200u);
    EXPECT_EQ(s.extension2, 17u);
    EXPECT_EQ(s.extension3, 6u);
    EXPECT_EQ(readBits(r, 7), 0x55u);

    // A short step takes the 8-bit field, and no trailer leaves the fields 0.
    StreamHeader small{64, 48, 8, 3, 255, 0, 0, 0, 0, 0, 0, 0, 9, 9, 1};
    BitSink w2;
    writeStreamHeader(w2.writer(), small);
    EXPECT_EQ(bitsWritten(w2.writer()), 24 + 32 + 5 + 1 + 1 + 8 + 6 + 3 + 1);
    BitReader* r2 = w2.read();
    DecodeSession s2{};
    s2.bits = r2;
    ASSERT_EQ(readStreamHeader(&s2), 0);
    EXPECT_EQ(s2.components, 3);
    EXPECT_EQ(s2.quantStep, 255u);
    EXPECT_EQ(s2.extension1, 0u);
}

// Joining parts a byte at a time must give the bits the one-bit writer gives,
// whatever the number of bits already in the partial byte, and count as it does.
TEST(BitSink, ByteRunsWriteWhatSingleBitsWrite)
{
    std::vector<uint8_t> bytes(37);
    uint32_t seed = 12345;
    for (uint8_t& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 23);
    }
    for (int32_t lead = 0; lead < 16; lead++) {
        for (size_t count : {size_t(0), size_t(1), bytes.size()}) {
            std::vector<uint8_t> byBits, byRun;
            BitReader* one = createBitSink(&byBits);
            BitReader* run = createBitSink(&byRun);
            BitReader* counter = createBitSink(nullptr);
            ASSERT_TRUE(one && run && counter);
            for (BitReader* w : {one, run, counter})
                writeBits(w, lead, 0x5A5Au >> (16 - lead));
            for (size_t i = 0; i < count; i++)
                writeBits(one, 8, bytes[i]);
            writeByteRun(run, bytes.data(), count);
            writeByteRun(counter, bytes.data(), count);
            for (BitReader* w : {one, run, counter})
                writeBits(w, 5, 0x13);
            EXPECT_EQ(bitsWritten(run), bitsWritten(one)) << lead << " " << count;
            EXPECT_EQ(bitsWritten(counter), bitsWritten(one)) << lead << " " << count;
            for (BitReader* w : {one, run, counter}) {
                flushBitWriter(w);
                releaseBitSink(w);
            }
            EXPECT_EQ(byRun, byBits) << lead << " " << count;
        }
    }
}

TEST(LowestBandWriter, DecoderReadsTheQuantisedValues)
{
    // 64 x 40: levels 3, lowest band 10 x 7.
    const int32_t H = 64, W = 40, levels = 3, q = 5;
    int32_t R = levelSize(H, levels), C = levelSize(W, levels);
    for (int32_t component = 0; component < 3; component++) {
        std::vector<int32_t> d(static_cast<size_t>(R) * C);
        for (size_t i = 0; i < d.size(); i++)
            d[i] = static_cast<int32_t>(i % 11) - (component ? 5 : 0);
        BitSink w;
        writeLowestBand(w.writer(), d);
        BitReader* r = w.read();
        Plane plane = makePlane(H, W);
        readLowestBand(r, plane, H, W, component, levels, q);
        for (int32_t i = 0; i < R; i++)
            for (int32_t j = 0; j < C; j++)
                ASSERT_EQ(plane[i][j], reconstructLowest(d[static_cast<size_t>(i) * C + j], q, component));
        EXPECT_EQ(r->endOfData, 0u);
        freePlane(plane);
    }
    // All zero differences take a width of 0 and nothing else.
    BitSink w;
    writeLowestBand(w.writer(), std::vector<int32_t>(12, 0));
    EXPECT_EQ(bitsWritten(w.writer()), 5);
}

TEST(CurveOrder, VisitsTheDocumentedOrders)
{
    const int32_t expected[4][16][2] = {
        {{0,3},{0,2},{1,2},{1,3},{2,3},{3,3},{3,2},{2,2},{2,1},{3,1},{3,0},{2,0},{1,0},{1,1},{0,1},{0,0}},
        {{3,0},{3,1},{2,1},{2,0},{1,0},{0,0},{0,1},{1,1},{1,2},{0,2},{0,3},{1,3},{2,3},{2,2},{3,2},{3,3}},
        {{3,0},{2,0},{2,1},{3,1},{3,2},{3,3},{2,3},{2,2},{1,2},{1,3},{0,3},{0,2},{0,1},{1,1},{1,0},{0,0}},
        {{0,3},{1,3},{1,2},{0,2},{0,1},{0,0},{1,0},{1,1},{2,1},{2,0},{3,0},{3,1},{3,2},{2,2},{2,3},{3,3}},
    };
    for (int32_t o = 0; o < 4; o++) {
        std::vector<std::pair<int32_t, int32_t>> seen;
        auto visit = [&](int32_t r, int32_t c) { seen.emplace_back(r, c); };
        walkCurve(o, 0, 4, 0, 4, visit);
        ASSERT_EQ(seen.size(), 16u);
        for (int32_t i = 0; i < 16; i++)
            EXPECT_EQ(seen[i], std::make_pair(expected[o][i][0], expected[o][i][1])) << "o " << o << " i " << i;
    }
    // A band of 4 x 4 at columns 5..8, orientation 0 (the progressive example).
    std::vector<std::pair<int32_t, int32_t>> seen;
    auto visit = [&](int32_t r, int32_t c) { seen.emplace_back(r, c); };
    walkCurve(0, 0, 4, 5, 9, visit);
    EXPECT_EQ(seen[0], std::make_pair(0, 8));
    EXPECT_EQ(seen[15], std::make_pair(0, 5));
}

struct TestBand final : QuadtreeBand {
    const std::vector<uint8_t>* codes;
    int32_t width;
    std::vector<std::pair<int32_t, int32_t>> settled;
    uint8_t at(int32_t r, int32_t c) const { return (*codes)[static_cast<size_t>(r) * width + c]; }
    bool known(int32_t r, int32_t c) const override { return at(r, c) == 4; }
    bool significant(int32_t r, int32_t c) const override { return at(r, c) == 2; }
    void settle(int32_t r, int32_t c) override { settled.emplace_back(r, c); }
};

// Every quadrant set and block pattern, with and without known positions,
// decodes to the same map with the one-pass quadtree decoder.
TEST(QuadtreeEncoder, OnePassDecoderRebuildsTheMap)
{
    const int32_t H = 5, W = 6;
    uint32_t state = 99;
    for (int32_t trial = 0; trial < 400; trial++) {
        std::vector<uint8_t> codes(H * W, 1);
        for (auto& c : codes) {
            state = state * 1103515245u + 12345u;
            uint32_t roll = (state >> 16) % 8;
            c = roll < 2 ? 2 : (roll == 2 && trial % 3 == 0 ? 4 : 1);
        }
        // Keep one quadrant free of significant positions now and then.
        if (trial % 4 == 1)
            for (int32_t r = 0; r < 2; r++)
                for (int32_t c = 0; c < 3; c++)
                    if (codes[r * W + c] == 2)
                        codes[r * W + c] = 1;
        TestBand band;
        band.codes = &codes;
        band.width = W;
        if (!band.anySignificant(0, H, 0, W))
            continue;
        BitSink w;
        encodeQuadtreeRect(w.writer(), &band, 0, H, 0, W);
        int64_t bits = bitsWritten(w.writer());
        BitReader* r = w.read();

        uint8_t** map = reinterpret_cast<uint8_t**>(makeArray2D(H, W, 1));
        for (int32_t i = 0; i < H; i++)
            for (int32_t j = 0; j < W; j++)
                map[i][j] = codes[i * W + j] == 4 ? 4 : 1;
        SignificanceMarkState mark;
        ASSERT_EQ(beginSignificanceMarking(&mark, H, W, 1), 1);
        enterMapBand(&mark, 0, 2, H, W);
        decodeQuadtreeRect(r, map, &mark, 0, H, 0, W);
        for (int32_t i = 0; i < H; i++)
            for (int32_t j = 0; j < W; j++)
                ASSERT_EQ(map[i][j], codes[i * W + j]) << "trial " << trial << " at " << i << "," << j;
        // The decoder read exactly what was written.
        EXPECT_EQ(static_cast<int64_t>(r->cursor - reinterpret_cast<uintptr_t>(r->buffer)), (bits + 7) / 8);
        endSignificanceMarking(&mark);
        freeArray2D(reinterpret_cast<void**>(map));
    }
}

TEST(QuadtreeEncoder, BlockAndQuadrantCodes)
{
    BitSink w;
    int32_t order[4];
    EXPECT_EQ(writeQuadrantSet(w.writer(), 2, order), 1);  // 1 01
    EXPECT_EQ(order[0], 1);
    EXPECT_EQ(writeQuadrantSet(w.writer(), 14, order), 3); // 001 01: TR, BR, BL
    EXPECT_EQ(order[1], 3);
    EXPECT_EQ(order[2], 2);
    writeBlockPattern(w.writer(), 8);  // 100
    writeBlockPattern(w.writer(), 15); // 000
    EXPECT_EQ(bitsWritten(w.writer()), 3 + 5 + 3 + 3);
    flushBitWriter(w.writer());
    EXPECT_EQ(w.bytes()[0], 0xA5); // 101 00101
    EXPECT_EQ(w.bytes()[1], 0x80); // 100 000
}

// The planner's child rule is the decoder's markChildren, and the children of
// a band's positions cover the finer band exactly once.
TEST(ChildSpan, MatchesMarkChildrenAndTilesTheFinerBand)
{
    const int32_t sizes[][2] = {{40, 57}, {64, 64}, {75, 33}, {129, 90}};
    for (const auto& size : sizes) {
        int32_t H = size[0], W = size[1], levels = levelCount(H, W);
        uint8_t **rows, **cols;
        ASSERT_EQ(makeBandParityTables(&rows, &cols, H, W, levels), 1);
        uint8_t** flags = reinterpret_cast<uint8_t**>(makeArray2D(H, W, 1));
        for (int32_t L = 1; L < levels; L++) {
            for (int32_t b = 0; b < 3; b++) {
                BandRect rect = bandRect(H, W, L, b);
                BandRect finer = bandRect(H, W, L - 1, b);
                std::vector<int32_t> cover(static_cast<size_t>(H) * W, 0);
                for (int32_t r = rect.rowStart; r < rect.rowEnd; r++) {
                    for (int32_t c = rect.colStart; c < rect.colEnd; c++) {
                        std::memset(flags[0], 1, static_cast<size_t>(H) * W);
                        markChildren(flags, rows, cols, b, L, r, c, rect.rowEnd, rect.colEnd);
                        int32_t rf, rn, cf, cn;
                        childSpan(rows[b][L - 1], r, r == rect.rowEnd - 1, &rf, &rn);
                        childSpan(cols[b][L - 1], c, c == rect.colEnd - 1, &cf, &cn);
                        for (int32_t i = 0; i < H; i++) {
                            for (int32_t j = 0; j < W; j++) {
                                bool mine = i >= rf && i < rf + rn && j >= cf && j < cf + cn;
                                ASSERT_EQ(flags[i][j] == 4, mine);
                                cover[static_cast<size_t>(i) * W + j] += mine;
                            }
                        }
                    }
                }
                for (int32_t i = 0; i < H; i++)
                    for (int32_t j = 0; j < W; j++) {
                        bool inside = i >= finer.rowStart && i < finer.rowEnd && j >= finer.colStart && j < finer.colEnd;
                        ASSERT_EQ(cover[static_cast<size_t>(i) * W + j], inside ? 1 : 0)
                            << H << "x" << W << " L " << L << " b " << b << " at " << i << "," << j;
                    }
            }
        }
        freeArray2D(reinterpret_cast<void**>(flags));
        freeBandParityTables(rows, cols);
    }
}

} // namespace

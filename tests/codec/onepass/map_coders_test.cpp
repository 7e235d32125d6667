#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "codec/entropy/adaptive_huffman.h"
#include "codec/onepass/quadtree_map_coder.h"
#include "codec/onepass/run_map_coders.h"
#include "codec/onepass/significance_marking.h"
#include "tests/codec/onepass/stream_builder.h"

namespace {

// Run values as map coders 0 and 1 read them.
std::vector<uint8_t> encodeRuns(const std::vector<int32_t>& runs)
{
    BitSink sink;
    AdaptiveHuffmanTree tree;
    EXPECT_EQ(initHuffmanTree(&tree, 256, 0), 1);
    for (int32_t run : runs)
        EXPECT_EQ(encodeHuffmanValue(sink.writer(), &tree, run), 0);
    freeHuffmanTree(&tree);
    return sink.finish();
}

std::vector<uint8_t> rawBits(const char* bits)
{
    BitSink sink;
    for (const char* p = bits; *p; p++)
        if (*p == '0' || *p == '1')
            sink.bit(*p == '1');
    return sink.finish();
}

using Positions = std::vector<std::pair<int32_t, int32_t>>;

Positions positionsWith(ByteMap& map, int32_t rows, int32_t cols, uint8_t code)
{
    Positions out;
    for (int32_t r = 0; r < rows; r++)
        for (int32_t c = 0; c < cols; c++)
            if (map.at(r, c) == code)
                out.push_back({r, c});
    return out;
}

TEST(CurveWalk, VisitsA4x4RectangleInTheOrderOfEachOrientation)
{
    static const int32_t order[4][16][2] = {
        {{0,3},{0,2},{1,2},{1,3},{2,3},{3,3},{3,2},{2,2},{2,1},{3,1},{3,0},{2,0},{1,0},{1,1},{0,1},{0,0}},
        {{3,0},{3,1},{2,1},{2,0},{1,0},{0,0},{0,1},{1,1},{1,2},{0,2},{0,3},{1,3},{2,3},{2,2},{3,2},{3,3}},
        {{3,0},{2,0},{2,1},{3,1},{3,2},{3,3},{2,3},{2,2},{1,2},{1,3},{0,3},{0,2},{0,1},{1,1},{1,0},{0,0}},
        {{0,3},{1,3},{1,2},{0,2},{0,1},{0,0},{1,0},{1,1},{2,1},{2,0},{3,0},{3,1},{3,2},{2,2},{2,3},{3,3}},
    };
    // A run of k passes k positions and marks the next; the run read then
    // covers the rest.
    std::vector<uint8_t> data = encodeRuns({1000});
    for (int32_t o = 0; o < 4; o++) {
        for (int32_t k = 0; k < 16; k++) {
            ByteMap map(4, 4);
            BitSource src(data);
            RunMapState state{};
            ASSERT_EQ(initHuffmanTree(&state.tree, 256, 0), 1);
            state.run = k;
            state.mark.levels = 0;
            scanCurveRect(src.reader(), map.get(), &state, o, 0, 4, 0, 4);
            freeHuffmanTree(&state.tree);
            Positions marked = positionsWith(map, 4, 4, MAP_SIGNIFICANT);
            ASSERT_EQ(marked.size(), 1u) << "orientation " << o << " step " << k;
            EXPECT_EQ(marked[0], std::make_pair(order[o][k][0], order[o][k][1]))
                << "orientation " << o << " step " << k;
            EXPECT_EQ(state.run, 1000 - (15 - k));
        }
    }
}

TEST(CurveWalk, PassesARectangleWholeWhenTheRunCoversItsUnmarkedPositions)
{
    std::vector<uint8_t> empty;
    for (auto rect : {std::make_pair(2, 5), std::make_pair(7, 6)}) {
        ByteMap map(rect.first, rect.second);
        map.at(0, 0) = MAP_ANCESTOR;
        map.at(1, 1) = MAP_ANCESTOR;
        int32_t unmarked = rect.first * rect.second - 2;
        BitSource src(empty);
        RunMapState state{};
        state.run = unmarked;
        scanCurveRect(src.reader(), map.get(), &state, 0, 0, rect.first, 0, rect.second);
        EXPECT_EQ(state.run, 0);
        EXPECT_EQ(src.consumed(), 0);
        EXPECT_EQ(src.reader()->endOfData, 0u);
        EXPECT_EQ(map.count(MAP_SIGNIFICANT), 0);
    }
}

TEST(RunMapCoders, AFirstRunOfZeroMarksTheFirstPositionVisited)
{
    // 16 x 16: one detail level; band 0 is rows 0..8, columns 9..15.
    std::vector<uint8_t> data = encodeRuns({0, 174});
    {
        ByteMap map(16, 16);
        BitSource src(data);
        ASSERT_EQ(decodeRunMapRaster(src.reader(), map.get(), 16, 16, 1), 1);
        EXPECT_EQ(positionsWith(map, 16, 16, MAP_SIGNIFICANT), (Positions{{0, 9}}));
        EXPECT_EQ(src.reader()->endOfData, 0u);
    }
    {
        ByteMap map(16, 16);
        BitSource src(data);
        ASSERT_EQ(decodeRunMapCurve(src.reader(), map.get(), 16, 16, 1), 1);
        EXPECT_EQ(positionsWith(map, 16, 16, MAP_SIGNIFICANT), (Positions{{0, 15}}));
    }
}

TEST(RunMapCoders, RasterFinalRunMustCoverExactlyThePositionsLeft)
{
    // 175 detail positions: the 6th is significant, 169 follow it.
    for (int32_t last : {169, 170, 168}) {
        std::vector<uint8_t> data = encodeRuns({5, last});
        ByteMap map(16, 16);
        BitSource src(data);
        ASSERT_EQ(decodeRunMapRaster(src.reader(), map.get(), 16, 16, 1), 1);
        // A run one short marks the last position and then meets the end.
        Positions expected = {{0, 14}};
        if (last == 168)
            expected.push_back({15, 15});
        EXPECT_EQ(positionsWith(map, 16, 16, MAP_SIGNIFICANT), expected);
        EXPECT_EQ(src.reader()->endOfData, last == 169 ? 0u : 1u) << last;
    }
}

TEST(RunMapCoders, CurveBandOrderAndOrientationsAlternateByLevel)
{
    // 40 x 40, three levels: 1159 positions at level 0 and 320 at level 1.
    std::vector<uint8_t> data = encodeRuns({1159, 319, 1000000});
    ByteMap map(40, 40);
    BitSource src(data);
    ASSERT_EQ(decodeRunMapCurve(src.reader(), map.get(), 40, 40, 3), 1);
    // Level 1 opens with band 1 at its bottom-left corner, level 2 with band 0
    // at its top-right corner; (10, 0) is the level-2 ancestor of (20, 0).
    EXPECT_EQ(positionsWith(map, 40, 40, MAP_SIGNIFICANT), (Positions{{0, 10}, {20, 0}}));
    EXPECT_EQ(positionsWith(map, 40, 40, MAP_ANCESTOR), (Positions{{10, 0}}));
    EXPECT_EQ(src.reader()->endOfData, 0u);
}

TEST(RunMapCoders, CurvePassesAWholeBandWithALargeRun)
{
    // Band 0 of 16 x 16 holds 63 positions; band 2 comes next and is entered
    // at its top-right corner.
    std::vector<uint8_t> data = encodeRuns({63, 1000});
    ByteMap map(16, 16);
    BitSource src(data);
    ASSERT_EQ(decodeRunMapCurve(src.reader(), map.get(), 16, 16, 1), 1);
    EXPECT_EQ(positionsWith(map, 16, 16, MAP_SIGNIFICANT), (Positions{{9, 15}}));
}

// Runs for an explicit set of significant positions, computed with the
// reference ancestor rule, in the raster coder's scan order.
std::vector<int32_t> rasterRuns(std::vector<std::vector<uint8_t>>& ref, int32_t rows, int32_t cols,
                                int32_t levels, const Positions& wanted)
{
    return referenceRuns(ref, rows, cols, levels, [&](int32_t r, int32_t c) {
        bool hit = false;
        for (auto p : wanted)
            hit |= p.first == r && p.second == c;
        return hit;
    });
}

TEST(RunMapCoders, RasterMapMatchesTheReferenceAncestorRule)
{
    const int32_t rows = 43, cols = 58, levels = 3;
    // Two level-0 positions share ancestors; one level-1 position; one run
    // above 255 needs the value prefix.
    Positions wanted = {{0, 30}, {1, 31}, {42, 57}, {30, 40}, {15, 20}, {5, 3}};
    std::vector<std::vector<uint8_t>> ref(rows, std::vector<uint8_t>(cols, 1));
    std::vector<int32_t> runs = rasterRuns(ref, rows, cols, levels, wanted);
    std::vector<uint8_t> data = encodeRuns(runs);
    ByteMap map(rows, cols);
    BitSource src(data);
    ASSERT_EQ(decodeRunMapRaster(src.reader(), map.get(), rows, cols, levels), 1);
    EXPECT_EQ(src.reader()->endOfData, 0u);
    for (int32_t r = 0; r < rows; r++)
        for (int32_t c = 0; c < cols; c++)
            ASSERT_EQ(map.at(r, c), ref[r][c]) << r << "," << c;
    EXPECT_GT(map.count(MAP_ANCESTOR), 2);
}

TEST(RunMapCoders, RasterMapMatchesTheReferenceAtEveryDensity)
{
    // Rows wider than eight positions, with runs that end anywhere in and across
    // groups of eight, from a few significant positions to most of them.
    const int32_t rows = 37, cols = 75, levels = 3;
    uint32_t seed = 12345;
    for (uint32_t percent : {1u, 10u, 50u, 90u}) {
        std::vector<std::vector<bool>> wanted(rows, std::vector<bool>(cols));
        for (auto& row : wanted)
            for (size_t c = 0; c < row.size(); c++) {
                seed = seed * 1103515245u + 12345u;
                row[c] = (seed >> 16) % 100 < percent;
            }
        std::vector<std::vector<uint8_t>> ref(rows, std::vector<uint8_t>(cols, 1));
        std::vector<int32_t> runs =
            referenceRuns(ref, rows, cols, levels, [&](int32_t r, int32_t c) { return bool(wanted[r][c]); });
        std::vector<uint8_t> data = encodeRuns(runs);
        ByteMap map(rows, cols);
        BitSource src(data);
        ASSERT_EQ(decodeRunMapRaster(src.reader(), map.get(), rows, cols, levels), 1);
        EXPECT_EQ(src.reader()->endOfData, 0u) << percent;
        for (int32_t r = 0; r < rows; r++)
            for (int32_t c = 0; c < cols; c++)
                ASSERT_EQ(map.at(r, c), ref[r][c]) << percent << "%: " << r << "," << c;
    }
}

TEST(SignificanceMarking, AncestorsFollowTheBandGeometryForEverySizeParity)
{
    // Three levels for every row and column count modulo 4.
    for (int32_t rows = 34; rows < 42; rows++)
        for (int32_t cols = 50; cols < 58; cols++) {
            const int32_t levels = levelCount(rows, cols);
            ASSERT_EQ(levels, 3);
            SignificanceMarkState state;
            ASSERT_EQ(beginSignificanceMarking(&state, rows, cols, levels), 1);
            ByteMap map(rows, cols);
            for (int32_t L = 0; L + 1 < levels; L++)
                for (int32_t t = 0; t < 3; t++) {
                    BandRect b = bandRect(rows, cols, L, t);
                    enterMapBand(&state, L, t, b.rowEnd, b.colEnd);
                    for (int32_t r = b.rowStart; r < b.rowEnd; r++)
                        for (int32_t c = b.colStart; c < b.colEnd; c++) {
                            markSignificant(&state, map.get(), r, c);
                            ASSERT_EQ(map.at(r, c), MAP_SIGNIFICANT);
                            map.at(r, c) = 1;
                            // Walk the reference ancestors, expecting 4, and clear them.
                            int32_t pr = r, pc = c;
                            for (int32_t k = L + 1; k < levels; k++) {
                                BandRect child = bandRect(rows, cols, k - 1, t);
                                BandRect parent = bandRect(rows, cols, k, t);
                                pr = referenceParent(pr, child.rowStart, parent.rowStart, parent.rowEnd);
                                pc = referenceParent(pc, child.colStart, parent.colStart, parent.colEnd);
                                ASSERT_EQ(map.at(pr, pc), MAP_ANCESTOR)
                                    << rows << "x" << cols << " from " << r << "," << c << " level " << k;
                                map.at(pr, pc) = 1;
                            }
                        }
                }
            endSignificanceMarking(&state);
            ASSERT_EQ(map.count(1), rows * cols);
        }
}

TEST(SignificanceMarking, StopsAtTheFirstAncestorAlreadyMarked)
{
    const int32_t rows = 40, cols = 40, levels = 3;
    SignificanceMarkState state;
    ASSERT_EQ(beginSignificanceMarking(&state, rows, cols, levels), 1);
    ByteMap map(rows, cols);
    // Level-0 band 0 position (0, 21): its ancestors are (0, 11) and (0, 6).
    map.at(0, 11) = MAP_ANCESTOR;
    enterMapBand(&state, 0, 0, 21, 40);
    markSignificant(&state, map.get(), 0, 21);
    EXPECT_EQ(map.at(0, 21), MAP_SIGNIFICANT);
    EXPECT_EQ(map.at(0, 6), 1);
    map.at(0, 11) = 1;
    markSignificant(&state, map.get(), 0, 22);
    EXPECT_EQ(map.at(0, 11), MAP_ANCESTOR);
    EXPECT_EQ(map.at(0, 6), MAP_ANCESTOR);
    endSignificanceMarking(&state);
}

TEST(RunMapCoders, MapLevelAboveLevelsScansNothingButReadsTheFirstRun)
{
    for (int32_t first : {0, 3}) {
        std::vector<uint8_t> data = encodeRuns({first});
        ByteMap rasterMap(2, 2), curveMap(2, 2);
        BitSource raster(data), curve(data);
        ASSERT_EQ(decodeRunMapRaster(raster.reader(), rasterMap.get(), 2, 2, -4000), 1);
        ASSERT_EQ(decodeRunMapCurve(curve.reader(), curveMap.get(), 2, 2, -4000), 1);
        EXPECT_EQ(rasterMap.count(1), 4);
        EXPECT_EQ(curveMap.count(1), 4);
        EXPECT_GT(raster.consumed(), 0);
        EXPECT_EQ(raster.consumed(), curve.consumed());
        // Only the raster coder checks that its last run comes out at 0.
        EXPECT_EQ(raster.reader()->endOfData, first ? 1u : 0u);
        EXPECT_EQ(curve.reader()->endOfData, 0u);
    }
    std::vector<uint8_t> none;
    ByteMap map(2, 2);
    BitSource src(none);
    ASSERT_EQ(decodeQuadtreeMap(src.reader(), map.get(), 2, 2, -4000), 1);
    EXPECT_EQ(src.reader()->endOfData, 0u);
}

TEST(RunMapCoders, RunTreeAllocationFailureIsReported)
{
    std::vector<uint8_t> data = encodeRuns({0});
    ByteMap map(16, 16);
    BitSource src(data);
    size_t limit = allocLimit();
    setAllocLimit(1024); // below the run tree's node table
    int32_t raster = decodeRunMapRaster(src.reader(), map.get(), 16, 16, 1);
    int32_t curve = decodeRunMapCurve(src.reader(), map.get(), 16, 16, 1);
    setAllocLimit(limit);
    EXPECT_EQ(raster, 0);
    EXPECT_EQ(curve, 0);
    EXPECT_EQ(map.count(1), 256);
}

// Quadtree map coder -----------------------------------------------------

struct QuadtreeCase {
    int32_t rows, cols;
    const char* bits;
    Positions ancestors;
    Positions expected;
};

void runQuadtreeRect(const QuadtreeCase& k)
{
    std::vector<uint8_t> data = rawBits(k.bits);
    int64_t bitCount = 0;
    for (const char* p = k.bits; *p; p++)
        bitCount += *p == '0' || *p == '1';
    ByteMap map(k.rows, k.cols);
    for (auto p : k.ancestors)
        map.at(p.first, p.second) = MAP_ANCESTOR;
    SignificanceMarkState state{};
    state.levels = 0;
    BitSource src(data);
    decodeQuadtreeRect(src.reader(), map.get(), &state, 0, k.rows, 0, k.cols);
    EXPECT_EQ(positionsWith(map, k.rows, k.cols, MAP_SIGNIFICANT), k.expected) << k.bits;
    EXPECT_EQ(src.consumed(), bitCount) << k.bits;
}

TEST(QuadtreeMapCoder, BlockCodesGiveTheFourPositionMasks)
{
    runQuadtreeRect({2, 2, "100", {}, {{0, 0}}});
    runQuadtreeRect({2, 2, "000", {}, {{0, 0}, {0, 1}, {1, 0}, {1, 1}}});
    runQuadtreeRect({2, 2, "111", {}, {{1, 1}}});
    runQuadtreeRect({2, 2, "0100", {}, {{0, 0}, {1, 0}}});
    runQuadtreeRect({2, 2, "01111", {}, {{0, 0}, {1, 1}}});
    runQuadtreeRect({2, 2, "00101", {}, {{0, 1}, {1, 0}, {1, 1}}});
    runQuadtreeRect({2, 2, "00111", {}, {{0, 0}, {0, 1}, {1, 1}}});
    // Rows of four and columns of four use the same codes in row-major order.
    runQuadtreeRect({1, 4, "0101", {}, {{0, 1}, {0, 3}}});
    runQuadtreeRect({4, 1, "01100", {}, {{0, 0}, {1, 0}}});
}

TEST(QuadtreeMapCoder, SmallRectanglesReadABitPerCandidateButNotForTheLast)
{
    // Five zeros leave the sixth position as the only candidate.
    runQuadtreeRect({2, 3, "00000", {}, {{1, 2}}});
    runQuadtreeRect({2, 3, "101000", {}, {{0, 0}, {0, 2}}});
    // Positions already 4 are passed over and counted from the start.
    runQuadtreeRect({1, 3, "", {{0, 0}, {0, 2}}, {{0, 1}}});
    runQuadtreeRect({2, 2, "00", {{0, 0}}, {{1, 1}}});
}

TEST(QuadtreeMapCoder, QuadrantSetCodesNameTheQuadrantsInDecodingOrder)
{
    // 0101: Q2 then Q3; each is a 2 x 2 block.
    runQuadtreeRect({4, 4, "0101 100 111", {}, {{0, 2}, {3, 1}}});
    // 001 10: Q4, Q3, Q1.
    runQuadtreeRect({4, 4, "00110 100 101 110", {}, {{1, 0}, {2, 1}, {2, 2}}});
    // 1 11: Q4 alone.
    runQuadtreeRect({4, 4, "111 000", {}, {{2, 2}, {2, 3}, {3, 2}, {3, 3}}});
    // 011 01: Q3, Q4.
    runQuadtreeRect({4, 4, "01101 100 100", {}, {{2, 0}, {2, 2}}});
    // 000: all four, in order.
    runQuadtreeRect({4, 4, "000 100 101 110 111", {}, {{0, 0}, {0, 3}, {3, 0}, {3, 3}}});
}

TEST(QuadtreeMapCoder, AllMarkedQuadrantsAreSkippedAndTheLastIsImplied)
{
    Positions tl = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
    // Q1 is all 4: Q2 and Q3 read 0, so Q4 is decoded without a bit.
    runQuadtreeRect({4, 4, "0 0 111", tl, {{3, 3}}});
    // Q2 reads 1 and is decoded; Q3 and Q4 each still read a bit.
    runQuadtreeRect({4, 4, "1 100 0 1 100", tl, {{0, 2}, {2, 2}}});
    // An all-4 rectangle reads nothing.
    runQuadtreeRect({2, 2, "", tl, {}});
}

TEST(QuadtreeMapCoder, BandFlagsAndAncestors)
{
    // 16 x 16, one level: band flags 0, 1, 0; band 1 (rows 9..15, columns
    // 0..8) holds only (15, 8): 7 x 9 splits at row 12, column 4 into
    // quadrants; Q4 = rows 12..15, columns 4..8 -> 1 11, then Q4 of that
    // (rows 14..15, columns 6..8, 2 x 3) -> 1 11 again, then five zeros.
    std::vector<uint8_t> data = rawBits("0 1 111 111 00000 0");
    ByteMap map(16, 16);
    BitSource src(data);
    ASSERT_EQ(decodeQuadtreeMap(src.reader(), map.get(), 16, 16, 1), 1);
    EXPECT_EQ(positionsWith(map, 16, 16, MAP_SIGNIFICANT), (Positions{{15, 8}}));
    EXPECT_EQ(src.consumed(), 14);
    EXPECT_EQ(src.reader()->endOfData, 0u);

    // With two levels a level-0 position marks its level-1 ancestor, which
    // the level-1 bands then never read.
    std::vector<std::vector<uint8_t>> ref(24, std::vector<uint8_t>(24, 1));
    referenceMark(ref, 24, 24, 2, 0, 0, 0, 13);
    ByteMap map2(24, 24);
    // Level 0 band 0 is rows 0..12, columns 13..23 (13 x 11); only (0, 13):
    // Q1 (rows 0..5, columns 13..17) -> 1 00; Q1 of it (rows 0..2, columns
    // 13..14, 3 x 2) -> 1 then done.
    // Then the flags of bands 1 and 2 and of level 1.
    std::vector<uint8_t> data2 = rawBits("1 100 100 1 00000 00 000");
    BitSource src2(data2);
    ASSERT_EQ(decodeQuadtreeMap(src2.reader(), map2.get(), 24, 24, 2), 1);
    EXPECT_EQ(src2.reader()->endOfData, 0u);
    EXPECT_EQ(map2.at(0, 13), MAP_SIGNIFICANT);
    EXPECT_EQ(positionsWith(map2, 24, 24, MAP_ANCESTOR).size(), 1u);
    for (int32_t r = 0; r < 24; r++)
        for (int32_t c = 0; c < 24; c++)
            ASSERT_EQ(map2.at(r, c), ref[r][c]);
}

} // namespace

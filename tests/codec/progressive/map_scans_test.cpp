#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/progressive/map_scans.h"
#include "codec/progressive/serpentine_walk.h"
#include "progressive_support.h"

namespace {

// A flag map with a guard ring of sentinel bytes around it.
struct FlagMap {
    static constexpr uint8_t kGuard = 0xEE;
    int32_t height, width;
    std::vector<uint8_t> block;
    std::vector<uint8_t*> rows;

    FlagMap(int32_t h, int32_t w) : height(h), width(w), block(static_cast<size_t>(h + 2) * (w + 2), kGuard)
    {
        for (int32_t r = 0; r < h; r++) {
            rows.push_back(block.data() + static_cast<size_t>(r + 1) * (w + 2) + 1);
            std::fill(rows.back(), rows.back() + w, FLAG_UNTESTED);
        }
    }
    uint8_t** map() { return rows.data(); }
    bool guardIntact() const
    {
        for (int32_t r = 0; r < height + 2; r++)
            for (int32_t c = 0; c < width + 2; c++) {
                bool border = r == 0 || c == 0 || r == height + 1 || c == width + 1;
                if (border && block[static_cast<size_t>(r) * (width + 2) + c] != kGuard)
                    return false;
            }
        return true;
    }
    void fill(BandRect rect, uint8_t value)
    {
        for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
            for (int32_t c = rect.colStart; c < rect.colEnd; c++)
                rows[r][c] = value;
    }
    // Positions of the rectangle carrying `value`.
    size_t count(BandRect rect, uint8_t value) const
    {
        size_t n = 0;
        for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
            for (int32_t c = rect.colStart; c < rect.colEnd; c++)
                n += rows[r][c] == value;
        return n;
    }
    size_t countAll(uint8_t value) const { return count({0, height, 0, width}, value); }
};

struct CaseTables {
    MapCoderState state;
    CaseTables(int32_t h, int32_t w)
    {
        std::memset(&state, 0, sizeof state);
        EXPECT_EQ(makeBandParityTables(&state.rowCases, &state.columnCases, h, w, levelCount(h, w)), 1);
    }
    ~CaseTables() { freeBandParityTables(state.rowCases, state.columnCases); }
};

size_t area(BandRect r)
{
    return static_cast<size_t>(r.rowEnd - r.rowStart) * static_cast<size_t>(r.colEnd - r.colStart);
}

// Recording callbacks: the positions called, and a set of positions that
// answer "significant".
std::vector<Position> calls;
std::set<std::pair<int32_t, int32_t>> significantSet;

int32_t recordCall(BitReader*, DecodeSession*, int32_t row, int32_t col)
{
    calls.push_back({row, col});
    return significantSet.count({row, col}) ? 1 : 0;
}

int32_t finalCall(BitReader*, DecodeSession*, int32_t row, int32_t col)
{
    calls.push_back({-row - 1, -col - 1});
    return 1;
}

struct MemoryReader {
    BitReader* reader;
    explicit MemoryReader(const std::vector<uint8_t>& bytes) : reader(createMemoryReader(bytes)) {}
    ~MemoryReader() { releaseBitReader(reader); }
    size_t bitsTaken() const { return static_cast<size_t>(::bitsTaken(reader)); }
};

// The untested positions of the rectangle in the order of the plain walk.
std::vector<Position> untestedInWalkOrder(const FlagMap& flags, BandRect rect)
{
    std::vector<Position> found;
    auto keep = [&](int32_t row, int32_t col) {
        if (flags.rows[row][col] == FLAG_UNTESTED)
            found.push_back({row, col});
    };
    SerpentineWalk<decltype(keep), true> walker{keep};
    walker.walk(0, rect.rowStart, rect.rowEnd, rect.colStart, rect.colEnd);
    return found;
}

class MapScans : public ::testing::Test {
protected:
    void SetUp() override
    {
        calls.clear();
        significantSet.clear();
    }
};

TEST_F(MapScans, SerpentineFollowsTheQuadrantTypes)
{
    // Band 0 of a 7 x 9 picture at level 0 is rows 0..3, columns 5..8.
    EXPECT_EQ(bandRect(7, 9, 0, 0).colStart, 5);
    std::vector<Position> expected = {{0, 8}, {0, 7}, {1, 7}, {1, 8}, {2, 8}, {3, 8}, {3, 7}, {2, 7},
                                      {2, 6}, {3, 6}, {3, 5}, {2, 5}, {1, 5}, {1, 6}, {0, 6}, {0, 5}};
    EXPECT_EQ(serpentineOrder(7, 9, 0, 0), expected);

    // A 3 x 3 band (rows 0..2, columns 4..6 of a 5 x 7 picture) splits into
    // quadrants of 1 x 2, 2 x 2, 2 x 1 and 1 x 1.
    std::vector<Position> split = {{0, 6}, {0, 5}, {1, 6}, {2, 6}, {2, 5}, {1, 5}, {1, 4}, {2, 4}, {0, 4}};
    EXPECT_EQ(serpentineOrder(5, 7, 0, 0), split);

    // An 8 x 8 band (band 2 of a 17 x 17 picture) ends with its top-left
    // quadrant of type 2: BL type 1, BR type 2, TR type 2, TL type 0.
    std::vector<Position> tail = {{12, 9},  {11, 9},  {11, 10}, {12, 10}, {12, 11}, {12, 12}, {11, 12}, {11, 11},
                                  {10, 11}, {10, 12}, {9, 12},  {9, 11},  {9, 10},  {10, 10}, {10, 9},  {9, 9}};
    std::vector<Position> order8 = serpentineOrder(17, 17, 0, 2);
    ASSERT_EQ(order8.size(), 64u);
    EXPECT_EQ(std::vector<Position>(order8.begin() + 48, order8.end()), tail);

    // In a 16 x 16 band the type 1 split appears: BL type 2, TL type 1,
    // TR type 1, BR type 3 (rows 21..24, columns 17..20 of band 2 of 33 x 33).
    std::vector<Position> typeOne = {{24, 17}, {24, 18}, {23, 18}, {23, 17}, {22, 17}, {21, 17}, {21, 18}, {22, 18},
                                     {22, 19}, {21, 19}, {21, 20}, {22, 20}, {23, 20}, {23, 19}, {24, 19}, {24, 20}};
    std::vector<Position> order16 = serpentineOrder(33, 33, 0, 2);
    ASSERT_EQ(order16.size(), 256u);
    EXPECT_EQ(std::vector<Position>(order16.begin() + 192, order16.begin() + 208), typeOne);

    // A band two rows high is one serpentine: columns right to left.
    BandRect thin = bandRect(6, 12, 0, 2);
    ASSERT_EQ(thin.rowEnd - thin.rowStart, 2);
    std::vector<Position> order = serpentineOrder(6, 12, 0, 2);
    ASSERT_EQ(order.size(), area(thin));
    EXPECT_EQ(order[0], (Position{thin.rowStart, thin.colEnd - 1}));
    EXPECT_EQ(order[1], (Position{thin.rowStart + 1, thin.colEnd - 1}));
    EXPECT_EQ(order[2], (Position{thin.rowStart + 1, thin.colEnd - 2}));
}

TEST_F(MapScans, SerpentineVisitsEveryPositionOnce)
{
    for (int32_t h = 9; h <= 40; h += 3) {
        for (int32_t w = 9; w <= 41; w += 4) {
            for (int32_t L = 0; L < levelCount(h, w); L++) {
                for (int32_t b = 0; b < 3; b++) {
                    BandRect rect = bandRect(h, w, L, b);
                    std::vector<Position> order = serpentineOrder(h, w, L, b);
                    std::set<std::pair<int32_t, int32_t>> seen;
                    for (Position p : order) {
                        EXPECT_TRUE(p.row >= rect.rowStart && p.row < rect.rowEnd && p.col >= rect.colStart &&
                                    p.col < rect.colEnd);
                        seen.insert({p.row, p.col});
                    }
                    EXPECT_EQ(order.size(), area(rect)) << h << "x" << w << " L" << L << " b" << b;
                    EXPECT_EQ(seen.size(), area(rect));
                }
            }
        }
    }
}

TEST_F(MapScans, SerpentineTestsTheUntestedPositionsInWalkOrderOverAnyFlagMap)
{
    // Flag maps with known-zero and significant blocks of several sizes and
    // scattered untested positions, so that small rectangles are passed
    // over or visited from their recorded order; the calls must be the plain
    // walk's order of the untested ones.
    std::mt19937 rng(5);
    for (int32_t h : {9, 33, 70, 131}) {
        for (int32_t w : {11, 32, 97, 260}) {
            const int32_t L = 0;
            for (int32_t b = 0; b < 3; b++) {
                const BandRect rect = bandRect(h, w, L, b);
                FlagMap flags(h, w);
                for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
                    for (int32_t c = rect.colStart; c < rect.colEnd; c++) {
                        // Half of the 6 x 6 tiles hold no untested position.
                        const bool quiet = (r / 6 * 5 + c / 6 * 3) % 2 == 0;
                        const uint32_t cell = static_cast<uint32_t>(rng() % 9);
                        flags.rows[r][c] = cell < 5 ? FLAG_KNOWN_ZERO
                                           : cell < 7 || quiet ? FLAG_SIGNIFICANT
                                                               : FLAG_UNTESTED;
                    }
                const size_t significantBefore = flags.count(rect, FLAG_SIGNIFICANT);
                const std::vector<Position> expected = untestedInWalkOrder(flags, rect);
                significantSet.clear();
                for (size_t i = 0; i < expected.size(); i += 2)
                    significantSet.insert({expected[i].row, expected[i].col});
                calls.clear();
                CaseTables tables(h, w);
                tables.state.valueCallback = recordCall;
                scanSerpentine(nullptr, nullptr, &tables.state, flags.map(), h, w, L, b);
                ASSERT_EQ(calls, expected) << h << "x" << w << " band " << b;
                EXPECT_EQ(flags.count(rect, FLAG_SIGNIFICANT), significantBefore + significantSet.size());
                EXPECT_TRUE(flags.guardIntact());
            }
        }
    }
}

// A list packs positions in 16 bits: rectangles of the largest area, on
// widths just past a power of two (the most column bits per column), list
// every untested position once, in the walk's order, inside the rectangle.
TEST_F(MapScans, ListsOfTheLargestRectanglesKeepEveryPosition)
{
    std::mt19937 rng(9);
    for (int32_t w : {129, 257, 1025, 2}) {
        const int32_t h = kListPositionsMost / w;
        FlagMap flags(h + 3, w + 5);
        for (int32_t r = 0; r < h + 3; r++)
            for (int32_t c = 0; c < w + 5; c++)
                flags.rows[r][c] = rng() % 4 == 0 ? FLAG_KNOWN_ZERO : FLAG_UNTESTED;
        const BandRect rect{2, 2 + h, 3, 3 + w};
        const std::vector<Position> expected = untestedInWalkOrder(flags, rect);
        std::vector<uint16_t> at(kListPositionsMost);
        BandList list{at.data(), 0, 0, 0, 0};
        listUntestedPositions(flags.map(), 0, rect.rowStart, rect.rowEnd, rect.colStart, rect.colEnd, &list);
        ASSERT_EQ(static_cast<size_t>(list.count), expected.size()) << w;
        const ListGeometry geometry = listGeometry(&list);
        std::vector<Position> listed;
        for (int32_t i = 0; i < list.count; i++)
            listed.push_back({geometry.row(at[i]), geometry.col(at[i])});
        EXPECT_EQ(listed, expected) << w;
    }
}

TEST_F(MapScans, ChildrenOfABandCoverTheSameBandOneLevelFiner)
{
    for (int32_t h = 9; h <= 44; h++) {
        for (int32_t w : {9, 10, 11, 12, 13, 17, 22, 31, 40}) {
            CaseTables tables(h, w);
            for (int32_t L = 1; L < levelCount(h, w); L++) {
                for (int32_t b = 0; b < 3; b++) {
                    FlagMap flags(h, w);
                    BandRect parent = bandRect(h, w, L, b);
                    for (int32_t r = parent.rowStart; r < parent.rowEnd; r++) {
                        for (int32_t c = parent.colStart; c < parent.colEnd; c++) {
                            size_t before = flags.countAll(FLAG_KNOWN_ZERO);
                            markChildren(flags.map(), tables.state.rowCases, tables.state.columnCases, b, L, r, c,
                                         parent.rowEnd, parent.colEnd);
                            EXPECT_LE(flags.countAll(FLAG_KNOWN_ZERO) - before, 9u);
                        }
                    }
                    BandRect child = bandRect(h, w, L - 1, b);
                    EXPECT_TRUE(flags.guardIntact());
                    EXPECT_EQ(flags.count(child, FLAG_KNOWN_ZERO), area(child))
                        << h << "x" << w << " L" << L << " b" << b;
                    EXPECT_EQ(flags.countAll(FLAG_KNOWN_ZERO), area(child));
                }
            }
        }
    }
}

// The serpentine pass marks children in bulk (eight parents at a time where
// it can); the result must be markChildren's for every insignificant parent,
// over parents mixing runs of all, none and some significant positions.
TEST_F(MapScans, SerpentineMarksTheChildrenOfEveryInsignificantPosition)
{
    std::mt19937 rng(11);
    for (int32_t h : {19, 70}) {
        for (int32_t w : {37, 131, 260}) {
            CaseTables tables(h, w);
            for (int32_t L = 1; L < 3; L++) {
                for (int32_t b = 0; b < 3; b++) {
                    const BandRect rect = bandRect(h, w, L, b);
                    FlagMap flags(h, w);
                    significantSet.clear();
                    for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
                        for (int32_t c = rect.colStart; c < rect.colEnd; c++) {
                            const int32_t run = (c - rect.colStart) / 8 % 3; // all, none, some
                            if (run == 0 || (run == 2 && rng() % 3 == 0))
                                significantSet.insert({r, c});
                            else if (rng() % 4 == 0)
                                flags.rows[r][c] = FLAG_KNOWN_ZERO;
                        }
                    FlagMap expected = flags;
                    for (size_t r = 0; r < expected.rows.size(); r++)
                        expected.rows[r] = expected.block.data() + (flags.rows[r] - flags.block.data());
                    tables.state.valueCallback = recordCall;
                    scanSerpentine(nullptr, nullptr, &tables.state, flags.map(), h, w, L, b);
                    for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
                        for (int32_t c = rect.colStart; c < rect.colEnd; c++) {
                            if (significantSet.count({r, c}))
                                expected.rows[r][c] = FLAG_SIGNIFICANT;
                            else
                                markChildren(expected.map(), tables.state.rowCases, tables.state.columnCases, b, L,
                                             r, c, rect.rowEnd, rect.colEnd);
                        }
                    ASSERT_EQ(flags.block, expected.block) << h << "x" << w << " L" << L << " b" << b;
                }
            }
        }
    }
}

TEST_F(MapScans, RasterTakesTheCallbackAsTheDecision)
{
    const int32_t h = 20, w = 18;
    CaseTables tables(h, w);
    MapCoderState& state = tables.state;
    state.valueCallback = recordCall;
    FlagMap flags(h, w);

    const int32_t L = 1;
    BandRect band = bandRect(h, w, L, 2);
    // The first position is known zero, the second significant.
    flags.rows[band.rowStart][band.colStart] = FLAG_KNOWN_ZERO;
    significantSet.insert({band.rowStart, band.colStart + 1});
    scanRaster(nullptr, nullptr, &state, flags.map(), h, w, L, 2);

    ASSERT_EQ(calls.size(), area(band) - 1);
    EXPECT_EQ(calls[0], (Position{band.rowStart, band.colStart + 1}));
    EXPECT_EQ(calls[1], (Position{band.rowStart, band.colStart + 2}));
    // Significant positions keep flag 1; every other position marked its
    // children, so all of band 2 at level 0 is known zero but the children of
    // the one significant position.
    EXPECT_EQ(flags.rows[band.rowStart][band.colStart + 1], FLAG_UNTESTED);
    BandRect child = bandRect(h, w, 0, 2);
    size_t known = flags.count(child, FLAG_KNOWN_ZERO);
    EXPECT_GE(known, area(child) - 9);
    EXPECT_LT(known, area(child));
}

TEST_F(MapScans, KnownZeroBandsPropagateToLevelZero)
{
    // A coarsest band that is all known zero makes no callback in the raster
    // and serpentine passes, and its zero tree reaches level 0.
    const int32_t h = 40, w = 36;
    const int32_t levels = levelCount(h, w);
    ASSERT_EQ(levels, 3);
    for (auto pass : {scanRaster, scanSerpentine}) {
        CaseTables tables(h, w);
        tables.state.valueCallback = recordCall;
        FlagMap flags(h, w);
        flags.fill(bandRect(h, w, levels - 1, 1), FLAG_KNOWN_ZERO);
        calls.clear();
        for (int32_t L = levels - 1; L >= 0; L--)
            pass(nullptr, nullptr, &tables.state, flags.map(), h, w, L, 1);
        EXPECT_TRUE(calls.empty());
        BandRect finest = bandRect(h, w, 0, 1);
        EXPECT_EQ(flags.count(finest, FLAG_KNOWN_ZERO), area(finest));
        EXPECT_TRUE(flags.guardIntact());
    }
}

// Run lengths as the encoder writes them, with its own copy of the tree.
std::vector<uint8_t> encodeRuns(const std::vector<int32_t>& lengths)
{
    AdaptiveHuffmanTree tree;
    EXPECT_EQ(initHuffmanTree(&tree, 256, 0), 1);
    BitSink s;
    for (int32_t n : lengths)
        EXPECT_EQ(encodeHuffmanValue(s.writer(), &tree, n), 0);
    freeHuffmanTree(&tree);
    return s.finish();
}

struct RunsFixture {
    CaseTables tables;
    FlagMap flags;
    RunsFixture(int32_t h, int32_t w) : tables(h, w), flags(h, w)
    {
        EXPECT_EQ(initHuffmanTree(&tables.state.mapTree, 256, 0), 1);
        tables.state.valueCallback = recordCall;
    }
    ~RunsFixture() { freeHuffmanTree(&tables.state.mapTree); }
};

TEST_F(MapScans, RunsAlternateFromAZeroRun)
{
    const int32_t h = 20, w = 18;
    RunsFixture f(h, w);
    BandRect band = bandRect(h, w, 1, 0);
    // 2, 1, 0: two zero positions, one significant, then zero to the end.
    std::vector<uint8_t> bytes = encodeRuns({2, 1, 0});
    MemoryReader in(bytes);
    scanRuns(in.reader, nullptr, &f.tables.state, f.flags.map(), h, w, 1, 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (Position{band.rowStart, band.colStart + 2}));
    EXPECT_EQ(in.reader->endOfData, 0u);
    // Every position but the significant one marked its children.
    BandRect child = bandRect(h, w, 0, 0);
    EXPECT_EQ(f.flags.count(child, FLAG_KNOWN_ZERO), area(child) - 4);
}

TEST_F(MapScans, RunsWithAFirstLengthOfZeroStartSignificant)
{
    const int32_t h = 20, w = 18;
    RunsFixture f(h, w);
    BandRect band = bandRect(h, w, 0, 1);
    // A known-zero position costs nothing and does not count in a run.
    f.flags.rows[band.rowStart][band.colStart + 1] = FLAG_KNOWN_ZERO;
    std::vector<uint8_t> bytes = encodeRuns({0, 3, 0});
    MemoryReader in(bytes);
    scanRuns(in.reader, nullptr, &f.tables.state, f.flags.map(), h, w, 0, 1);
    // Significant: positions 0, 2, 3 of the band; then a zero run read as 0,
    // whose counter goes negative, so the rest of the band is zero.
    std::vector<Position> expected = {
        {band.rowStart, band.colStart}, {band.rowStart, band.colStart + 2}, {band.rowStart, band.colStart + 3}};
    EXPECT_EQ(calls, expected);
    // Level 0 marks nothing.
    EXPECT_EQ(f.flags.countAll(FLAG_KNOWN_ZERO), 1u);
}

TEST_F(MapScans, RunsOverAKnownZeroBandReadOnlyTheFirstLength)
{
    const int32_t h = 20, w = 18;
    RunsFixture f(h, w);
    f.flags.fill(bandRect(h, w, 1, 2), FLAG_KNOWN_ZERO);
    std::vector<uint8_t> bytes = encodeRuns({70, 5});
    MemoryReader in(bytes);
    scanRuns(in.reader, nullptr, &f.tables.state, f.flags.map(), h, w, 1, 2);
    EXPECT_TRUE(calls.empty());
    // 70 is escape (6 bits) plus 8 raw bits in the start tree of mode 0.
    EXPECT_EQ(in.bitsTaken(), 14u);
    BandRect child = bandRect(h, w, 0, 2);
    EXPECT_EQ(f.flags.count(child, FLAG_KNOWN_ZERO), area(child));
}

TEST_F(MapScans, RunTreeStatisticsPersistAcrossBands)
{
    const int32_t h = 20, w = 18;
    RunsFixture f(h, w);
    // The encoder codes the three bands' lengths with one tree: the first 200
    // is escaped, the later ones use its leaf.
    std::vector<uint8_t> bytes = encodeRuns({200, 200, 200});
    MemoryReader in(bytes);
    for (int32_t b = 0; b < 3; b++) {
        BandRect band = bandRect(h, w, 0, b);
        ASSERT_LT(area(band), 200u);
        calls.clear();
        scanRuns(in.reader, nullptr, &f.tables.state, f.flags.map(), h, w, 0, b);
        EXPECT_TRUE(calls.empty());
    }
    // 14 bits for the escaped length, then two codewords of the leaf.
    EXPECT_LT(in.bitsTaken(), 14u + 2 * 14u);
    EXPECT_EQ(in.reader->endOfData, 0u);
}

TEST_F(MapScans, SerpentineFlagsAndMarking)
{
    const int32_t h = 20, w = 18;
    CaseTables tables(h, w);
    tables.state.valueCallback = recordCall;
    FlagMap flags(h, w);
    BandRect band = bandRect(h, w, 1, 1);
    flags.rows[band.rowStart][band.colStart] = FLAG_KNOWN_ZERO;
    significantSet.insert({band.rowStart + 1, band.colStart});
    scanSerpentine(nullptr, nullptr, &tables.state, flags.map(), h, w, 1, 1);
    EXPECT_EQ(calls.size(), area(band) - 1);
    EXPECT_EQ(flags.rows[band.rowStart + 1][band.colStart], FLAG_SIGNIFICANT);
    EXPECT_EQ(flags.count(band, FLAG_SIGNIFICANT), 1u);
    // All children but those of the significant position are known zero.
    BandRect child = bandRect(h, w, 0, 1);
    size_t known = flags.count(child, FLAG_KNOWN_ZERO);
    EXPECT_LT(known, area(child));
    EXPECT_GE(known, area(child) - 9);
}

TEST_F(MapScans, FirstPassAtLevelZeroSwitchesToTheFinalCallback)
{
    const int32_t h = 20, w = 18;
    CaseTables tables(h, w);
    tables.state.valueCallback = recordCall;
    tables.state.finalValueCallback = finalCall;
    FlagMap flags(h, w);

    scanSerpentine(nullptr, nullptr, &tables.state, flags.map(), h, w, 1, 0);
    EXPECT_EQ(tables.state.valueCallback, recordCall); // not at level 1
    scanSerpentine(nullptr, nullptr, &tables.state, flags.map(), h, w, 0, 0);
    EXPECT_EQ(tables.state.valueCallback, recordCall); // finalLevelDirect is 0

    tables.state.finalLevelDirect = 1;
    calls.clear();
    scanSerpentine(nullptr, nullptr, &tables.state, flags.map(), h, w, 0, 1);
    EXPECT_EQ(tables.state.valueCallback, finalCall);
    ASSERT_FALSE(calls.empty());
    EXPECT_LT(calls[0].row, 0); // made through the final callback
    // The switch stays: a later coarser pass still uses it.
    calls.clear();
    scanSerpentine(nullptr, nullptr, &tables.state, flags.map(), h, w, 1, 1);
    ASSERT_FALSE(calls.empty());
    EXPECT_LT(calls[0].row, 0);
}

} // namespace

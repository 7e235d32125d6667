#include "codec/recon/level_expansion.h"

#include "codec/core/geometry.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Coarse indexes that fine position p of a dimension of n samples (m coarse)
// is formed from: an even position from its own coarse sample, the isolated
// final position of an even length from the last coarse sample, an odd
// position from its two neighbours.
std::vector<int32_t> sources(int32_t p, int32_t n, int32_t m)
{
    if (n % 2 == 0 && p == n - 1)
        return {m - 1};
    if (p % 2 == 0)
        return {p / 2};
    return {(p - 1) / 2, (p + 1) / 2};
}

// Direct model: the sum of 1, 2 or 4 coarse samples, rounded and shifted by
// one more than log2 of their count (wrapping 32-bit sums).
std::vector<std::vector<int32_t>> model(const std::vector<std::vector<int32_t>>& coarse, int32_t R, int32_t C)
{
    const int32_t Rh = (R + 2) >> 1, Ch = (C + 2) >> 1;
    std::vector<std::vector<int32_t>> fine(R, std::vector<int32_t>(C));
    for (int32_t y = 0; y < R; y++)
        for (int32_t x = 0; x < C; x++) {
            const auto vs = sources(y, R, Rh), hs = sources(x, C, Ch);
            int32_t sum = 0;
            for (int32_t k : vs)
                for (int32_t j : hs)
                    sum += coarse[k][j];
            const int shift = 1 + (vs.size() == 2) + (hs.size() == 2);
            fine[y][x] = (sum + (1 << (shift - 1))) >> shift;
        }
    return fine;
}

struct TestPlane {
    Plane plane;
    int32_t rows, cols;
    TestPlane(int32_t r, int32_t c) : plane(makePlane(r, c)), rows(r), cols(c) {}
    ~TestPlane() { freePlane(plane); }
    void fill(int32_t value)
    {
        for (int32_t y = -1; y < rows; y++)
            for (int32_t x = -1; x < cols; x++)
                plane[y][x] = value;
    }
};

void checkExpansion(int32_t height, int32_t width, int32_t L, std::mt19937& rng, int32_t range)
{
    const int32_t R = levelSize(height, L), C = levelSize(width, L);
    const int32_t Rh = levelSize(height, L + 1), Ch = levelSize(width, L + 1);
    ASSERT_EQ(Rh, lowSize(R));
    TestPlane p(height, width);
    const int32_t sentinel = 0x5a5a5a5a;
    p.fill(sentinel);
    std::vector<std::vector<int32_t>> coarse(Rh, std::vector<int32_t>(Ch));
    for (int32_t k = 0; k < Rh; k++)
        for (int32_t j = 0; j < Ch; j++)
            p.plane[k][j] = coarse[k][j] = static_cast<int32_t>(rng() % (2u * range + 1)) - range;

    expandLevel(p.plane, height, width, L);

    const auto want = model(coarse, R, C);
    for (int32_t y = -1; y < height; y++)
        for (int32_t x = -1; x < width; x++) {
            const int32_t expected = y >= 0 && x >= 0 && y < R && x < C ? want[y][x] : sentinel;
            ASSERT_EQ(p.plane[y][x], expected)
                << height << "x" << width << " L " << L << " at " << y << "," << x;
        }
}

TEST(ExpandLevel, MatchesModelOnOddAndEvenSizes)
{
    std::mt19937 rng(3);
    for (int32_t h = 9; h <= 40; h++)
        for (int32_t w = 9; w <= 40; w++)
            checkExpansion(h, w, 0, rng, 5000);
}

TEST(ExpandLevel, CoarserLevelsLeaveTheRestOfThePlane)
{
    std::mt19937 rng(4);
    for (int32_t h : {37, 38, 64, 67})
        for (int32_t w : {36, 41, 66})
            for (int32_t L = 1; L <= 2; L++)
                checkExpansion(h, w, L, rng, 1000);
}

TEST(ExpandLevel, WideRowsMatchModelAtEveryPhase)
{
    // Rows long enough for many four-value steps, with every remainder of
    // the row length; extreme samples wrap the same way.
    std::mt19937 rng(6);
    for (int32_t w = 120; w < 128; w++) {
        checkExpansion(w - 100, w, 0, rng, 1 << 20);
        checkExpansion(w - 99, w, 1, rng, INT32_MAX);
    }
}

TEST(ExpandLevel, ExtremeSamplesWrap)
{
    std::mt19937 rng(5);
    checkExpansion(21, 22, 0, rng, INT32_MAX);
    checkExpansion(22, 21, 0, rng, INT32_MAX);
}

TEST(ExpandLevel, RowExamplesAndNegativeRounding)
{
    // Widths 6 and 7 from the coarse row 40, 80, 100, 60 (every row alike).
    for (int32_t width : {6, 7}) {
        TestPlane p(9, width);
        for (int32_t k = 0; k < 5; k++) {
            const int32_t row[4] = {40, 80, 100, 60};
            for (int32_t j = 0; j < 4; j++)
                p.plane[k][j] = row[j];
        }
        expandLevel(p.plane, 9, width, 0);
        std::vector<int32_t> got(p.plane[4], p.plane[4] + width);
        if (width == 6)
            EXPECT_EQ(got, (std::vector<int32_t>{20, 30, 40, 45, 50, 30}));
        else
            EXPECT_EQ(got, (std::vector<int32_t>{20, 30, 40, 45, 50, 40, 30}));
    }
    // Coarse -1 gives 0, -2 gives -1, the pair -1, -2 gives -1.
    TestPlane p(9, 9);
    for (int32_t k = 0; k < 5; k++)
        for (int32_t j = 0; j < 5; j++)
            p.plane[k][j] = j == 0 ? -1 : -2;
    expandLevel(p.plane, 9, 9, 0);
    EXPECT_EQ(p.plane[0][0], 0);
    EXPECT_EQ(p.plane[0][2], -1);
    EXPECT_EQ(p.plane[0][1], -1);
}

} // namespace

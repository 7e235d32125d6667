#include "codec/core/geometry.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(Geometry, FloorLog2)
{
    EXPECT_EQ(floorLog2(INT32_MIN), -1);
    EXPECT_EQ(floorLog2(-5), -1);
    EXPECT_EQ(floorLog2(0), -1);
    EXPECT_EQ(floorLog2(1), 0);
    EXPECT_EQ(floorLog2(2), 1);
    EXPECT_EQ(floorLog2(3), 1);
    EXPECT_EQ(floorLog2(1023), 9);
    EXPECT_EQ(floorLog2(1024), 10);
    EXPECT_EQ(floorLog2(INT32_MAX), 30);
}

TEST(Geometry, LevelCount)
{
    EXPECT_EQ(levelCount(256, 256), 5);
    EXPECT_EQ(levelCount(64, 100), 3);
    EXPECT_EQ(levelCount(100, 64), 3);
    EXPECT_EQ(levelCount(6, 1000), 0);
    EXPECT_EQ(levelCount(5, 1000), -1);
    EXPECT_EQ(levelCount(2, 2), -3);
    EXPECT_EQ(levelCount(0, 0), -3);
    EXPECT_EQ(levelCount(65535, 65535), 13);
}

TEST(Geometry, LevelSizesOfExamples)
{
    const int32_t expected[] = {256, 129, 65, 33};
    for (int L = 0; L < 4; L++)
        EXPECT_EQ(levelSize(256, L), expected[L]) << "L " << L;
    EXPECT_EQ(levelSize(100, 2), 26);
    EXPECT_EQ(levelSize(60, 2), 16);
    EXPECT_EQ(levelSize(7, -1), 7);
}

// n(L) = (n(L-1) + 2) >> 1 for every level, however far beyond the picture's
// own level count a corrupt stream asks.
TEST(Geometry, LevelSizesFollowTheRecursionAtEveryLevel)
{
    const int32_t sides[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 63, 64, 65, 255, 256, 257, 4097, 65535, 65536, INT32_MAX / 2};
    for (int32_t n : sides) {
        int64_t expected = n;
        for (int32_t L = 0; L <= 200; L++) {
            ASSERT_EQ(levelSize(n, L), expected) << "n " << n << " L " << L;
            expected = (expected + 2) >> 1;
        }
    }
    EXPECT_EQ(levelSize(65535, 31), 2);
    EXPECT_EQ(levelSize(65535, INT32_MAX), 2);
}

TEST(Geometry, BandBoundsAtEvenSize)
{
    int32_t r0 = -1, r1 = -1, c0 = -1, c1 = -1;
    bandBounds(256, 256, 1, 0, &r0, &r1, &c0, &c1);
    EXPECT_EQ(r0, 0);
    EXPECT_EQ(r1, 65);
    EXPECT_EQ(c0, 65);
    EXPECT_EQ(c1, 129);
    bandBounds(256, 256, 1, 1, &r0, &r1, &c0, &c1);
    EXPECT_EQ(r0, 65);
    EXPECT_EQ(r1, 129);
    EXPECT_EQ(c0, 0);
    EXPECT_EQ(c1, 65);
    bandBounds(256, 256, 1, 2, &r0, &r1, &c0, &c1);
    EXPECT_EQ(r0, 65);
    EXPECT_EQ(r1, 129);
    EXPECT_EQ(c0, 65);
    EXPECT_EQ(c1, 129);
}

TEST(Geometry, BandBoundsAtOddSizesTileTheRegion)
{
    // 101 x 60 at level 0: R = 101, Rl = 51; C = 60, Cl = 31.
    BandRect b0 = bandRect(101, 60, 0, 0);
    BandRect b1 = bandRect(101, 60, 0, 1);
    BandRect b2 = bandRect(101, 60, 0, 2);
    EXPECT_EQ(b0.rowStart, 0);
    EXPECT_EQ(b0.rowEnd, 51);
    EXPECT_EQ(b0.colStart, 31);
    EXPECT_EQ(b0.colEnd, 60);
    EXPECT_EQ(b1.rowStart, 51);
    EXPECT_EQ(b1.rowEnd, 101);
    EXPECT_EQ(b1.colEnd, 31);
    EXPECT_EQ(b2.rowStart, 51);
    EXPECT_EQ(b2.colStart, 31);

    // At every level the low part plus the three bands cover the region once.
    for (int32_t L = 0; L < 6; L++) {
        int32_t R = levelSize(101, L), C = levelSize(60, L);
        int32_t area = lowSize(R) * lowSize(C);
        for (int band = 0; band < 3; band++) {
            BandRect b = bandRect(101, 60, L, band);
            area += (b.rowEnd - b.rowStart) * (b.colEnd - b.colStart);
        }
        EXPECT_EQ(area, R * C) << "L " << L;
        EXPECT_EQ(lowSize(R), levelSize(101, L + 1));
    }
}

TEST(Geometry, BandBoundsIgnoresOtherBandNumbers)
{
    int32_t r0 = 7, r1 = 8, c0 = 9, c1 = 10;
    bandBounds(256, 256, 1, 3, &r0, &r1, &c0, &c1);
    bandBounds(256, 256, 1, -1, &r0, &r1, &c0, &c1);
    EXPECT_EQ(r0, 7);
    EXPECT_EQ(r1, 8);
    EXPECT_EQ(c0, 9);
    EXPECT_EQ(c1, 10);
}

TEST(Geometry, BandParityTables)
{
    uint8_t** P = nullptr;
    uint8_t** Q = nullptr;
    // 101 x 60, levels 3: region sizes 101/60, 51/31, 26/16.
    ASSERT_EQ(makeBandParityTables(&P, &Q, 101, 60, 3), 1);
    // Level 0: band 0 rowEnd 51, colEnd 60; band 1 rowEnd 101, colEnd 31.
    EXPECT_EQ(P[0][0], 4 + 1);
    EXPECT_EQ(Q[0][0], 60 & 3);
    EXPECT_EQ(Q[2][0], 60 & 3);
    EXPECT_EQ(P[1][0], 101 & 3);
    EXPECT_EQ(P[2][0], 101 & 3);
    EXPECT_EQ(Q[1][0], 4 + 1);
    // Level 1: R 51 (Rl 26), C 31 (Cl 16).
    EXPECT_EQ(P[0][1], 4 + 0);
    EXPECT_EQ(Q[0][1], 31 & 3);
    EXPECT_EQ(P[1][1], 51 & 3);
    EXPECT_EQ(Q[1][1], 4 + 0);
    // Level 2: R 26 (Rl 14), C 16 (Cl 9).
    EXPECT_EQ(P[0][2], 4 + 0);
    EXPECT_EQ(Q[0][2], 0);
    EXPECT_EQ(P[2][2], 26 & 3);
    EXPECT_EQ(Q[1][2], 4 + 1);
    freeBandParityTables(P, Q);
}

} // namespace

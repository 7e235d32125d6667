#include "codec/core/colour_transform.h"

#include "codec/core/array2d.h"
#include "codec/core/geometry.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct Planes3 {
    Plane* p;
    Planes3(int32_t rows, int32_t cols) : p(makePlanes(rows, cols, 3)) {}
    ~Planes3() { freePlanes(p, 3); }
    void set(int i, int j, int32_t y, int32_t u, int32_t v)
    {
        p[0][i][j] = y;
        p[1][i][j] = u;
        p[2][i][j] = v;
    }
};

TEST(ColourTransform, Example)
{
    Planes3 planes(6, 6); // levels 0: the whole 6 x 6 picture is the lowest band
    planes.set(0, 0, 100, 0, 8);
    colourTransform(planes.p, 6, 6, 0);
    EXPECT_EQ(planes.p[0][0][0], 105);
    EXPECT_EQ(planes.p[1][0][0], 95);
    EXPECT_EQ(planes.p[2][0][0], 114);
}

TEST(ColourTransform, TruncatesTowardZero)
{
    Planes3 planes(6, 6);
    planes.set(0, 0, 0, 0, -1);   // -0.625, 0.625, -1.75
    planes.set(0, 1, 0, 1, 0);    // 1, -0.25, -1
    planes.set(0, 2, 0, -1, 1);   // -0.375, 0.625, 2.75
    colourTransform(planes.p, 6, 6, 0);
    EXPECT_EQ(planes.p[0][0][0], 0);
    EXPECT_EQ(planes.p[1][0][0], 0);
    EXPECT_EQ(planes.p[2][0][0], -1);
    EXPECT_EQ(planes.p[0][0][1], 1);
    EXPECT_EQ(planes.p[1][0][1], 0);
    EXPECT_EQ(planes.p[2][0][1], -1);
    EXPECT_EQ(planes.p[0][0][2], 0);
    EXPECT_EQ(planes.p[1][0][2], 0);
    EXPECT_EQ(planes.p[2][0][2], 2);
}

TEST(ColourTransform, ExtremeSamplesWrapToThirtyTwoBits)
{
    Planes3 planes(6, 6);
    planes.set(0, 0, INT32_MAX, 1, 0);
    planes.set(0, 1, INT32_MAX, 0, INT32_MAX);
    planes.set(0, 2, INT32_MIN, INT32_MIN, INT32_MIN);
    colourTransform(planes.p, 6, 6, 0);
    EXPECT_EQ(planes.p[0][0][0], INT32_MIN);              // Y + U wraps
    EXPECT_EQ(planes.p[1][0][0], INT32_MAX - 1);          // 2147483646.75
    EXPECT_EQ(planes.p[2][0][0], INT32_MAX - 1);
    // 2147483647 + 0.625 * 2147483647 = 3489660926.375 -> 3489660926 - 2^32
    EXPECT_EQ(planes.p[0][0][1], -805306370);
    // Y - U = 0; 1.75 * -2^31 = -3758096384 -> wraps to 536870912
    EXPECT_EQ(planes.p[2][0][2], 536870912);
    EXPECT_EQ(truncateToInt32(4294967296.5), 0);
    EXPECT_EQ(truncateToInt32(-1.5), -1);
    EXPECT_EQ(truncateToInt32(1099511627781.0), 5); // 2^40 + 5
}

TEST(ColourTransform, TouchesOnlyTheLowestBand)
{
    // 20 x 30: levels 2, lowest band (20+6)>>2 = 6 rows, (30+6)>>2 = 9 columns.
    Planes3 planes(20, 30);
    ASSERT_EQ(levelCount(20, 30), 2);
    for (int i = 0; i < 20; i++)
        for (int j = 0; j < 30; j++)
            planes.set(i, j, 100, 0, 8);
    colourTransform(planes.p, 20, 30, 2);
    for (int i = 0; i < 20; i++)
        for (int j = 0; j < 30; j++) {
            bool inside = i < 6 && j < 9;
            EXPECT_EQ(planes.p[0][i][j], inside ? 105 : 100) << i << "," << j;
            EXPECT_EQ(planes.p[2][i][j], inside ? 114 : 8) << i << "," << j;
        }
}

} // namespace

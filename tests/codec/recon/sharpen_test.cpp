#include "codec/recon/sharpen.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct TestPlane {
    Plane plane;
    TestPlane(int32_t r, int32_t c) : plane(makePlane(r, c)) {}
    ~TestPlane() { freePlane(plane); }
};

void fill(Plane p, int32_t rows, int32_t cols, int32_t value)
{
    for (int32_t y = -1; y < rows; y++)
        for (int32_t x = -1; x < cols; x++)
            p[y][x] = value;
}

TEST(SharpenPlane, SingleSamplesAndFlatPlanes)
{
    TestPlane src(7, 7), dst(7, 7);
    fill(src.plane, 7, 7, 0);
    src.plane[3][3] = 8;
    sharpenPlane(src.plane, dst.plane, 7, 7, 1);
    EXPECT_EQ(dst.plane[3][3], 12);
    EXPECT_EQ(dst.plane[2][3], -1);
    EXPECT_EQ(dst.plane[4][3], -1);
    EXPECT_EQ(dst.plane[3][2], -1);
    EXPECT_EQ(dst.plane[3][4], -1);
    EXPECT_EQ(dst.plane[2][2], 0);

    src.plane[3][3] = 1;
    sharpenPlane(src.plane, dst.plane, 7, 7, 5);
    EXPECT_EQ(dst.plane[3][3], 1);
    EXPECT_EQ(dst.plane[2][3], -1);

    for (int32_t value : {0, 7, -9, 100000}) {
        fill(src.plane, 7, 7, value);
        sharpenPlane(src.plane, dst.plane, 7, 7, 1);
        for (int32_t y = 0; y < 7; y++)
            for (int32_t x = 0; x < 7; x++)
                ASSERT_EQ(dst.plane[y][x], value);
    }
}

TEST(SharpenPlane, MatchesFormulaAndCopiesBorders)
{
    std::mt19937 rng(7);
    for (int32_t rows : {3, 4, 9, 16})
        for (int32_t cols : {3, 5, 12}) {
            TestPlane src(rows, cols), dst(rows, cols);
            fill(dst.plane, rows, cols, 0x11111111);
            for (int32_t y = -1; y < rows; y++)
                for (int32_t x = -1; x < cols; x++)
                    src.plane[y][x] = static_cast<int32_t>(rng() % 4001) - 2000;
            sharpenPlane(src.plane, dst.plane, rows, cols, 1);
            Plane s = src.plane;
            for (int32_t y = -1; y < rows; y++)
                for (int32_t x = -1; x < cols; x++) {
                    int32_t want;
                    if (y < 0 || x < 0)
                        want = 0x11111111; // guard untouched
                    else if (y == 0 || x == 0 || y == rows - 1 || x == cols - 1)
                        want = s[y][x];
                    else
                        want = (12 * s[y][x] - s[y][x - 1] - s[y][x + 1] - s[y - 1][x] - s[y + 1][x]) >> 3;
                    ASSERT_EQ(dst.plane[y][x], want) << rows << "x" << cols << " at " << y << "," << x;
                }
        }
}

} // namespace

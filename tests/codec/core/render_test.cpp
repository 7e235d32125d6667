#include "codec/core/render.h"

#include "codec/core/alloc.h"
#include "codec/core/array2d.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct PlaneSet {
    Plane* p;
    int n;
    PlaneSet(int32_t rows, int32_t cols, int n_) : p(makePlanes(rows, cols, n_)), n(n_) {}
    ~PlaneSet() { freePlanes(p, n); }
};

std::vector<int16_t> toneTable(int bitsPerSample, int meanLevel, int contrastStretch)
{
    std::vector<int16_t> table(size_t{1} << bitsPerSample);
    makeToneTable(table.data(), bitsPerSample, meanLevel, contrastStretch);
    return table;
}

TEST(ToneTable, IdentityWithoutStretch)
{
    auto table = toneTable(8, 77, 0);
    for (int i = 0; i < 256; i++)
        EXPECT_EQ(table[i], i);
    auto deep = toneTable(16, 0, 0);
    EXPECT_EQ(static_cast<uint16_t>(deep[65535]), 65535);
    EXPECT_EQ(deep[1234], 1234);
}

TEST(ToneTable, StretchAroundTheMeanClamps)
{
    auto table = toneTable(8, 100, 1);
    EXPECT_EQ(table[100], 128);
    EXPECT_EQ(table[0], 0);     // -72
    EXPECT_EQ(table[200], 255); // 328
    EXPECT_EQ(table[101], 130);
    auto deep = toneTable(12, 2048, 3);
    EXPECT_EQ(deep[2048], 2048);
    EXPECT_EQ(deep[2049], 2052);
    EXPECT_EQ(deep[4095], 4095);
    EXPECT_EQ(deep[0], 0);
    // A huge stretch from a hostile header wraps instead of misbehaving.
    auto wild = toneTable(8, INT32_MIN, INT32_MAX);
    for (int16_t v : wild)
        EXPECT_TRUE(v >= 0 && v <= 255);
}

TEST(RenderPlanes, EightBitThresholds)
{
    PlaneSet planes(1, 8, 1);
    const int32_t samples[8] = {495, 496, 8175, 8176, -16, -17, INT32_MAX, INT32_MIN};
    for (int j = 0; j < 8; j++)
        planes.p[0][0][j] = samples[j];
    uint8_t out[8];
    ASSERT_EQ(renderPlanes(planes.p, out, 1, 8, 8, 1, 0, 0), out);
    EXPECT_EQ(out[0], 15);
    EXPECT_EQ(out[1], 16);
    EXPECT_EQ(out[2], 255);
    EXPECT_EQ(out[3], 255);
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(out[5], 0);
    EXPECT_EQ(out[6], 0);   // +16 wraps negative
    EXPECT_EQ(out[7], 0);

    // With a stretched table: 8175 goes through entry 255, 8176 does not.
    ASSERT_EQ(renderPlanes(planes.p, out, 1, 8, 8, 1, 200, 1), out);
    EXPECT_EQ(out[2], (255 - 200) * 2 + 128);
    EXPECT_EQ(out[3], 255);
    EXPECT_EQ(out[0], 0); // entry 15 clamps
}

TEST(RenderPlanes, DeepGreyTruncatesAndWritesLowByteFirst)
{
    PlaneSet planes(1, 5, 1);
    const int32_t samples[5] = {32 * 1000 + 31, (1 << 17) - 1, 1 << 17, -1, 32 * 0x123};
    for (int j = 0; j < 5; j++)
        planes.p[0][0][j] = samples[j];
    uint8_t out[10];
    ASSERT_EQ(renderPlanes(planes.p, out, 1, 5, 12, 1, 0, 0), out);
    EXPECT_EQ(out[0] | out[1] << 8, 1000);
    EXPECT_EQ(out[2] | out[3] << 8, 4095);
    EXPECT_EQ(out[4] | out[5] << 8, 4095);
    EXPECT_EQ(out[6] | out[7] << 8, 0);
    EXPECT_EQ(out[8], 0x23);
    EXPECT_EQ(out[9], 0x01);

    PlaneSet full(1, 1, 1);
    full.p[0][0][0] = 32 * 65535;
    ASSERT_EQ(renderPlanes(full.p, out, 1, 1, 16, 1, 0, 0), out);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xFF);
}

TEST(RenderPlanes, IdentityToneMatchesTheTableRuleOnRandomSamples)
{
    // Without a stretch the table lookup is skipped (and rows go 16 samples
    // at a time where the processor allows); bytes must be the rule's.
    for (const int32_t cols : {1, 15, 16, 17, 18, 32, 33, 50}) {
        const int32_t rows = 7;
        PlaneSet planes(rows, cols, 3);
        uint32_t seed = 12345;
        for (int c = 0; c < 3; c++)
            for (int i = 0; i < rows; i++)
                for (int j = 0; j < cols; j++) {
                    seed = seed * 1664525u + 1013904223u;
                    int32_t wide = static_cast<int32_t>(seed);
                    planes.p[c][i][j] = (j % 3 == 0) ? wide : (wide >> 18) + 4096; // near and far from 0..8191
                }
        // The rounding wraps at the top of the range.
        planes.p[0][0][0] = INT32_MAX - 3;
        planes.p[1][rows - 1][cols - 1] = INT32_MIN;
        auto rule = [](int32_t v) {
            int32_t s = static_cast<int32_t>(static_cast<uint32_t>(v) + 16u);
            return s >= 8192 ? 255 : s < 0 ? 0 : s >> 5;
        };
        std::vector<uint8_t> grey(rows * cols), colour(rows * cols * 3);
        ASSERT_EQ(renderPlanes(planes.p, grey.data(), rows, cols, 8, 1, 0, 0), grey.data());
        ASSERT_EQ(renderPlanes(planes.p, colour.data(), rows, cols, 8, 3, 0, 0), colour.data());
        for (int i = 0; i < rows; i++)
            for (int j = 0; j < cols; j++) {
                EXPECT_EQ(grey[i * cols + j], rule(planes.p[0][i][j]));
                for (int c = 0; c < 3; c++)
                    EXPECT_EQ(colour[(i * cols + j) * 3 + c], rule(planes.p[c][i][j]));
            }
    }
}

TEST(RenderPlanes, ColourIsInterleavedInPlaneOrder)
{
    PlaneSet planes(2, 2, 3);
    for (int c = 0; c < 3; c++)
        for (int i = 0; i < 2; i++)
            for (int j = 0; j < 2; j++)
                planes.p[c][i][j] = 32 * (c + 10 * i + 3 * j) + 20; // rounds up
    uint8_t out[12];
    ASSERT_EQ(renderPlanes(planes.p, out, 2, 2, 8, 3, 0, 0), out);
    for (int i = 0; i < 2; i++)
        for (int j = 0; j < 2; j++)
            for (int c = 0; c < 3; c++)
                EXPECT_EQ(out[(i * 2 + j) * 3 + c], c + 10 * i + 3 * j + 1);
}

TEST(RenderPlanes, NoToneTableMeansNothingWrittenButTheIdentityNeedsNone)
{
    PlaneSet planes(1, 4, 1);
    for (int j = 0; j < 4; j++)
        planes.p[0][0][j] = 32 * j;
    uint8_t out[4] = {9, 9, 9, 9};
    setAllocLimit(100);
    EXPECT_EQ(renderPlanes(planes.p, out, 1, 4, 8, 1, 0, 1), nullptr);
    EXPECT_EQ(renderPlanes(planes.p, out, 1, 4, 12, 1, 0, 0), nullptr);
    for (uint8_t b : out)
        EXPECT_EQ(b, 9);
    EXPECT_EQ(renderPlanes(planes.p, out, 1, 4, 8, 1, 0, 0), out);
    setAllocLimit(0);
    for (int j = 0; j < 4; j++)
        EXPECT_EQ(out[j], j);
}

TEST(RenderPartial, RendersTheLevelRegionWithoutRounding)
{
    // 10 x 12 at level 1: region 6 x 7, shift 6.
    PlaneSet planes(10, 12, 1);
    for (int i = 0; i < 10; i++)
        for (int j = 0; j < 12; j++)
            planes.p[0][i][j] = 64 * (i * 7 + j) + 63;
    planes.p[0][5][6] = 64 * 256;
    planes.p[0][5][5] = -1;
    auto table = toneTable(8, 0, 0);
    uint8_t* pixels = renderPartial(planes.p, nullptr, 10, 12, 8, 1, 1, table.data());
    ASSERT_NE(pixels, nullptr);
    for (int i = 0; i < 6; i++)
        for (int j = 0; j < 7; j++) {
            int expected = i * 7 + j;
            if (i == 5 && j == 6)
                expected = 255;
            if (i == 5 && j == 5)
                expected = 0;
            EXPECT_EQ(pixels[i * 7 + j], expected) << i << "," << j;
        }
    freeChecked(pixels);
}

TEST(RenderPartial, DeepGreyAndColourLayouts)
{
    PlaneSet grey(6, 6, 1);
    for (int i = 0; i < 6; i++)
        for (int j = 0; j < 6; j++)
            grey.p[0][i][j] = 32 * 4095 + 31;
    grey.p[0][0][1] = 32 * 4096;
    auto table = toneTable(12, 0, 0);
    std::vector<uint8_t> out(6 * 6 * 2, 0xEE);
    ASSERT_EQ(renderPartial(grey.p, out.data(), 6, 6, 12, 1, 0, table.data()), out.data());
    EXPECT_EQ(out[0] | out[1] << 8, 4095);
    EXPECT_EQ(out[2] | out[3] << 8, 4095);
    EXPECT_EQ(out[70] | out[71] << 8, 4095);

    PlaneSet colour(6, 6, 3);
    for (int c = 0; c < 3; c++)
        for (int i = 0; i < 6; i++)
            for (int j = 0; j < 6; j++)
                colour.p[c][i][j] = 256 * (c + 1);
    auto table8 = toneTable(8, 0, 0);
    std::vector<uint8_t> rgb(6 * 6 * 3, 0xEE);
    // Level 3 of 6 x 6 is 2 x 2; shift 8.
    ASSERT_EQ(renderPartial(colour.p, rgb.data(), 6, 6, 8, 3, 3, table8.data()), rgb.data());
    for (int k = 0; k < 4; k++)
        for (int c = 0; c < 3; c++)
            EXPECT_EQ(rgb[k * 3 + c], c + 1);
    EXPECT_EQ(rgb[12], 0xEE); // nothing past the region
}

TEST(RenderPartial, FarLevelsAndFailedAllocation)
{
    PlaneSet planes(6, 6, 1);
    for (int i = 0; i < 6; i++)
        for (int j = 0; j < 6; j++)
            planes.p[0][i][j] = -1;
    planes.p[0][0][0] = INT32_MAX;
    auto table = toneTable(8, 0, 0);
    uint8_t out[4];
    // Level 40 of a 6 x 6 picture is 2 x 2; the shift must stay defined.
    ASSERT_EQ(renderPartial(planes.p, out, 6, 6, 8, 1, 40, table.data()), out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    setAllocLimit(2);
    EXPECT_EQ(renderPartial(planes.p, nullptr, 6, 6, 8, 1, 1, table.data()), nullptr);
    setAllocLimit(0);
}

} // namespace

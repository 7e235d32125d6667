#include <gtest/gtest.h>

#include <vector>

#include "codec/core/alloc.h"
#include "server/dither.h"
#include "server/palette.h"

namespace {

constexpr uint8_t kUntouched = 0xCD;

size_t strideOf(int width)
{
    return (static_cast<size_t>(width) + 3) & ~static_cast<size_t>(3);
}

// Reference diffusion over a whole-picture error buffer.
std::vector<uint8_t> referenceDither(const std::vector<uint8_t>& rgb, int width, int height)
{
    auto share = [](int k, int e) { return e >= 0 ? (k * e + 8) >> 4 : -((k * -e + 8) >> 4); };
    const uint8_t* palette = buildPaletteEntries(nullptr);
    std::vector<int> v(rgb.begin(), rgb.end());
    std::vector<uint8_t> out(strideOf(width) * height, kUntouched);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            int c[3];
            for (int k = 0; k < 3; k++)
                c[k] = std::min(255, std::max(0, v[(y * width + x) * 3 + k]));
            uint8_t index = colourIndex(c[0], c[1], c[2]);
            out[(height - 1 - y) * strideOf(width) + x] = index;
            for (int k = 0; k < 3; k++) {
                int e = c[k] - palette[4 * index + k];
                auto add = [&](int yy, int xx, int weight) {
                    if (yy < height && xx >= 0 && xx < width)
                        v[(yy * width + xx) * 3 + k] += share(weight, e);
                };
                add(y, x + 1, 7);
                add(y + 1, x - 1, 3);
                add(y + 1, x, 5);
                add(y + 1, x + 1, 1);
            }
        }
    return out;
}

TEST(FrameDither, UniformBlocks)
{
    for (uint8_t value : {0, 255}) {
        for (uint32_t colour : {0u, 1u}) {
            std::vector<uint8_t> pixels(6 * 4 * (colour ? 3 : 1), value);
            std::vector<uint8_t> out(strideOf(6) * 4, kUntouched);
            ASSERT_EQ(ditherFrame(pixels.data(), out.data(), 6, 4, colour), 0);
            for (int y = 0; y < 4; y++)
                for (int x = 0; x < 8; x++)
                    EXPECT_EQ(out[y * 8 + x], x < 6 ? (value ? 0xFF : 0x00) : kUntouched);
        }
    }
}

TEST(FrameDither, ErrorsTravelRightAndDown)
{
    // 100 maps to index 0x6D (109, 109, 85): errors -9, -9, 15.
    const uint8_t row[] = {100, 127};
    std::vector<uint8_t> out(4, kUntouched);
    ASSERT_EQ(ditherFrame(row, out.data(), 2, 1, 0), 0);
    EXPECT_EQ(out[0], 0x6D);
    EXPECT_EQ(out[1], 0x6E); // 127 alone would be 0x6D
    EXPECT_EQ(out[2], kUntouched);

    const uint8_t column[] = {100, 127};
    std::vector<uint8_t> tall(8, kUntouched);
    ASSERT_EQ(ditherFrame(column, tall.data(), 1, 2, 0), 0);
    EXPECT_EQ(tall[4], 0x6D); // the first row is the last one written
    EXPECT_EQ(tall[0], 0x6E);
}

TEST(FrameDither, MatchesWholePictureDiffusion)
{
    const int width = 7, height = 5;
    std::vector<uint8_t> rgb(width * height * 3);
    uint32_t seed = 12345;
    for (uint8_t& b : rgb) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    std::vector<uint8_t> out(strideOf(width) * height, kUntouched);
    ASSERT_EQ(ditherFrame(rgb.data(), out.data(), width, height, 1), 0);
    EXPECT_EQ(out, referenceDither(rgb, width, height));

    // Grey goes through the same palette with its value on all three channels.
    std::vector<uint8_t> grey(width * height), greyRgb;
    for (size_t i = 0; i < grey.size(); i++) {
        grey[i] = rgb[3 * i];
        greyRgb.insert(greyRgb.end(), 3, grey[i]);
    }
    std::vector<uint8_t> greyOut(strideOf(width) * height, kUntouched);
    ASSERT_EQ(ditherFrame(grey.data(), greyOut.data(), width, height, 0), 0);
    EXPECT_EQ(greyOut, referenceDither(greyRgb, width, height));

    // Deep grey uses each sample's top 8 bits.
    std::vector<uint8_t> deep;
    for (uint8_t g : grey) {
        uint32_t sample = static_cast<uint32_t>(g) << 4 | 0xF;
        deep.push_back(static_cast<uint8_t>(sample));
        deep.push_back(static_cast<uint8_t>(sample >> 8));
    }
    std::vector<uint8_t> deepOut(strideOf(width) * height, kUntouched);
    ASSERT_EQ(ditherFrame(deep.data(), deepOut.data(), width, height, 0, 12), 0);
    EXPECT_EQ(deepOut, greyOut);
}

TEST(FrameDither, RowBuffersFailing)
{
    std::vector<uint8_t> pixels(5 * 3 * 2, 50);
    std::vector<uint8_t> out(8 * 2, kUntouched);
    setAllocLimit(16); // less than a row of 15 int32 values
    int32_t status = ditherFrame(pixels.data(), out.data(), 5, 2, 1);
    setAllocLimit(0);
    EXPECT_EQ(status, 102);
    EXPECT_EQ(out, std::vector<uint8_t>(16, kUntouched));
}

} // namespace

#include "codec/recon/last_level_expansion.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::vector<uint8_t>>; // [channel][y * width + x]

uint8_t clampPixel(int32_t t) { return t >= 16384 ? 255 : t < 0 ? 0 : static_cast<uint8_t>(t >> 6); }

// Direct model: convert every coarse sample, place converted samples on even
// positions (and the isolated final row/column), then interpolate odd columns
// of those rows and finally the odd rows from the finished rows around them.
Bytes model(const std::vector<std::vector<std::vector<int32_t>>>& coarse, bool yuv, int32_t H, int32_t W)
{
    const int32_t N = yuv ? 3 : 1;
    auto converted = [&](int32_t k, int32_t j, int32_t c) -> uint8_t {
        if (!yuv)
            return clampPixel(coarse[0][k][j] + 32);
        const int32_t Y = coarse[0][k][j] + 32, U = coarse[1][k][j], V = coarse[2][k][j];
        const int32_t t = (V >> 1) + (V >> 3);
        const int32_t ch[3] = {Y + U + t, Y - (U >> 2) - t, Y - U + 2 * t + (V >> 1)};
        return clampPixel(ch[c]);
    };
    auto coarseIndex = [](int32_t p, int32_t n) { return n % 2 == 0 && p == n - 1 ? (n + 2) / 2 - 1 : p / 2; };
    auto isDirect = [](int32_t p, int32_t n) { return p % 2 == 0 || (n % 2 == 0 && p == n - 1); };

    Bytes out(N, std::vector<uint8_t>(H * W));
    for (int32_t c = 0; c < N; c++) {
        auto px = [&](int32_t y, int32_t x) -> uint8_t& { return out[c][y * W + x]; };
        for (int32_t y = 0; y < H; y++) {
            if (!isDirect(y, H))
                continue;
            for (int32_t x = 0; x < W; x++)
                if (isDirect(x, W))
                    px(y, x) = converted(coarseIndex(y, H), coarseIndex(x, W), c);
            for (int32_t x = 1; x < W; x += 2)
                if (!isDirect(x, W))
                    px(y, x) = (px(y, x - 1) + px(y, x + 1)) >> 1;
        }
        for (int32_t y = 1; y < H; y += 2) {
            if (isDirect(y, H))
                continue;
            for (int32_t x = 0; x < W; x++) {
                if (isDirect(x, W))
                    px(y, x) = (px(y - 1, x) + px(y + 1, x)) >> 1;
                else
                    px(y, x) = (px(y - 1, x - 1) + px(y + 1, x - 1) + px(y - 1, x + 1) + px(y + 1, x + 1)) >> 2;
            }
        }
    }
    return out;
}

struct TestPlanes {
    int32_t n;
    std::vector<Plane> planes;
    TestPlanes(int32_t count, int32_t rows, int32_t cols) : n(count)
    {
        for (int32_t i = 0; i < count; i++)
            planes.push_back(makePlane(rows, cols));
    }
    ~TestPlanes()
    {
        for (Plane p : planes)
            freePlane(p);
    }
};

// Interleaved pixel rows of 3 bytes with a spare row and pixel around them.
struct Pixels {
    int32_t H, W, stride;
    std::vector<uint8_t> block;
    std::vector<uint8_t*> rows[3];
    Pixels(int32_t h, int32_t w, int32_t bytesPerPixel)
        : H(h), W(w), stride((w + 2) * bytesPerPixel), block(static_cast<size_t>(h + 2) * stride, 0xA5)
    {
        for (int32_t c = 0; c < bytesPerPixel; c++)
            for (int32_t y = 0; y < h; y++)
                rows[c].push_back(block.data() + (y + 1) * stride + bytesPerPixel + c);
    }
};

void checkAgainstModel(int32_t H, int32_t W, int32_t form, std::mt19937& rng)
{
    const int32_t Rh = (H + 2) >> 1, Ch = (W + 2) >> 1;
    const int32_t planeCount = form == 2 ? 3 : 1;
    TestPlanes tp(planeCount, H / 2 + 1, W / 2 + 1);
    std::vector<std::vector<std::vector<int32_t>>> coarse(planeCount, std::vector<std::vector<int32_t>>(Rh, std::vector<int32_t>(Ch)));
    for (int32_t i = 0; i < planeCount; i++)
        for (int32_t k = 0; k < Rh; k++)
            for (int32_t j = 0; j < Ch; j++) {
                // Mostly in range, with excursions below 0 and past 255.
                const int32_t range = i == 0 ? 20000 : 8000;
                const int32_t offset = i == 0 ? 3000 : range / 2;
                tp.planes[i][k][j] = coarse[i][k][j] = static_cast<int32_t>(rng() % range) - offset;
            }
    const int32_t bpp = form == 0 ? 1 : 3;
    Pixels px(H, W, bpp);
    const std::vector<uint8_t> before = px.block;
    const int32_t channel = form == 1 ? 1 : 0;
    if (form == 0)
        expandToGray8(tp.planes[0], px.rows[0].data(), H, W);
    else if (form == 1)
        expandToRgb8Channel(tp.planes[0], px.rows[channel].data(), H, W);
    else
        expandYuvToRgb8(tp.planes.data(), px.rows[0].data(), H, W);

    const Bytes want = model(coarse, form == 2, H, W);
    for (int32_t y = -1; y <= H; y++)
        for (int32_t x = -1; x <= W; x++)
            for (int32_t c = 0; c < bpp; c++) {
                const size_t at = static_cast<size_t>(y + 1) * px.stride + (x + 1) * bpp + c;
                const bool inside = y >= 0 && x >= 0 && y < H && x < W;
                int32_t expected = before[at];
                if (inside && form == 2)
                    expected = want[c][y * W + x];
                else if (inside && c == channel)
                    expected = want[0][y * W + x];
                ASSERT_EQ(px.block[at], expected) << "form " << form << " " << H << "x" << W << " at " << y << ","
                                                  << x << " channel " << c;
            }
}

TEST(LastLevelExpansion, MatchesModelForAllThreeForms)
{
    std::mt19937 rng(6);
    for (int32_t form = 0; form < 3; form++)
        for (int32_t H = 9; H <= 24; H++)
            for (int32_t W = 9; W <= 24; W++)
                checkAgainstModel(H, W, form, rng);
}

TEST(LastLevelExpansion, GreyConversionAndWidthFourRow)
{
    // Width 4 (3 coarse columns), height 4 (3 coarse rows), every coarse row
    // 6400, 12800, 3200.
    TestPlanes tp(1, 3, 3);
    for (int32_t k = 0; k < 3; k++) {
        tp.planes[0][k][0] = 6400;
        tp.planes[0][k][1] = 12800;
        tp.planes[0][k][2] = 3200;
    }
    tp.planes[0][2][1] = 1000; // coarse row 2 feeds only the last pixel row
    Pixels px(4, 4, 1);
    expandToGray8(tp.planes[0], px.rows[0].data(), 4, 4);
    auto row = [&](int32_t y) { return std::vector<uint8_t>(px.rows[0][y], px.rows[0][y] + 4); };
    EXPECT_EQ(row(0), (std::vector<uint8_t>{100, 150, 200, 50}));
    EXPECT_EQ(row(3), (std::vector<uint8_t>{100, 58, 16, 50}));
    EXPECT_EQ(row(2), (std::vector<uint8_t>{100, 150, 200, 50}));
    EXPECT_EQ(row(1), (std::vector<uint8_t>{100, 150, 200, 50}));

    // Conversion limits: -33 -> 0, 16351 and 16352 -> 255.
    const int32_t samples[3] = {-33, 16351, 16352};
    for (int32_t k = 0; k < 3; k++)
        for (int32_t j = 0; j < 3; j++)
            tp.planes[0][k][j] = samples[j];
    expandToGray8(tp.planes[0], px.rows[0].data(), 4, 4);
    EXPECT_EQ(row(0), (std::vector<uint8_t>{0, 127, 255, 255}));
}

TEST(LastLevelExpansion, ColourTransformOfCoarseSamples)
{
    TestPlanes tp(3, 5, 5);
    for (int32_t k = 0; k < 5; k++)
        for (int32_t j = 0; j < 5; j++) {
            tp.planes[0][k][j] = 6400;
            tp.planes[1][k][j] = j >= 2 ? 640 : 0;
            tp.planes[2][k][j] = 0;
        }
    Pixels px(9, 9, 3);
    expandYuvToRgb8(tp.planes.data(), px.rows[0].data(), 9, 9);
    auto pixel = [&](int32_t y, int32_t x) {
        return std::vector<uint8_t>(px.rows[0][y] + 3 * x, px.rows[0][y] + 3 * x + 3);
    };
    EXPECT_EQ(pixel(0, 0), (std::vector<uint8_t>{100, 100, 100}));
    EXPECT_EQ(pixel(5, 4), (std::vector<uint8_t>{110, 98, 90}));
    EXPECT_EQ(pixel(3, 3), (std::vector<uint8_t>{105, 99, 95})); // between the two
}

} // namespace

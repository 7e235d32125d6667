#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "codec/core/array2d.h"
#include "codec/core/geometry.h"
#include "codec/encoder/forward_transform.h"
#include "codec/recon/level_expansion.h"
#include "codec/synth/synthesis_kernels.h"

namespace {

TEST(ForwardLift, InverseRestoresEveryLength)
{
    for (int32_t n = 1; n <= 40; n++) {
        std::vector<double> x(n), original(n), scratch(n);
        for (int32_t i = 0; i < n; i++)
            original[i] = x[i] = std::sin(1.7 * i) * 100.0 + (i % 3) * 7.0;
        forwardLift(x.data(), n, 1, scratch.data());
        inverseLift(x.data(), n, 1, scratch.data());
        for (int32_t i = 0; i < n; i++)
            ASSERT_NEAR(x[i], original[i], 1e-9) << "n " << n << " i " << i;
    }
}

TEST(ForwardLift, EvenLengthKeepsItsLastSampleAsLowValue)
{
    // 6 samples: 4 low values (the last one the isolated final sample), 2 high.
    std::vector<double> x{10, 30, 50, 30, 10, 99}, scratch(6);
    forwardLift(x.data(), 6, 1, scratch.data());
    EXPECT_DOUBLE_EQ(x[3], 99.0);
    EXPECT_DOUBLE_EQ(x[4], 30.0 - 30.0);   // 30 - (10 + 50) / 2
    EXPECT_DOUBLE_EQ(x[5], 30.0 - 30.0);   // 30 - (50 + 10) / 2
    // A linear ramp has no detail.
    std::vector<double> ramp{0, 2, 4, 6, 8, 10, 12, 14, 16}, s9(9);
    forwardLift(ramp.data(), 9, 1, s9.data());
    for (int32_t j = 5; j < 9; j++)
        EXPECT_NEAR(ramp[j], 0.0, 1e-12);
}

// Synthesises one layout position with the decoder (lowest band at the plane
// scale, expandLevel between levels, addCoefficientPlane for detail) and
// returns the picture in pixel units.
std::vector<double> decoderImpulse(int32_t H, int32_t W, int32_t levels, int32_t row, int32_t col,
                                   int32_t levelOf, int32_t band, int32_t value)
{
    Plane plane = makePlane(H, W);
    for (int32_t r = -1; r < H; r++)
        for (int32_t c = -1; c < W; c++)
            plane[r][c] = 0;
    if (levelOf == levels)
        plane[row][col] = value;
    for (int32_t L = levels - 1; L >= 0; L--) {
        expandLevel(plane, H, W, L);
        if (L == levelOf) {
            BandRect g = bandRect(H, W, L, 2);
            addCoefficientPlane(plane, value, g.rowEnd, g.colEnd, g.rowStart, g.colStart, band, row, col);
        }
    }
    std::vector<double> picture(static_cast<size_t>(H) * W);
    for (int32_t r = 0; r < H; r++)
        for (int32_t c = 0; c < W; c++)
            picture[static_cast<size_t>(r) * W + c] = plane[r][c] / 32.0;
    freePlane(plane);
    return picture;
}

// Level and band of a layout position (band -1 for the lowest band).
void locate(int32_t H, int32_t W, int32_t levels, int32_t r, int32_t c, int32_t* level, int32_t* band)
{
    for (int32_t L = 0; L < levels; L++) {
        for (int32_t b = 0; b < 3; b++) {
            BandRect rect = bandRect(H, W, L, b);
            if (r >= rect.rowStart && r < rect.rowEnd && c >= rect.colStart && c < rect.colEnd) {
                *level = L;
                *band = b;
                return;
            }
        }
    }
    *level = levels;
    *band = -1;
}

// The forward transform is the inverse of the decoder's synthesis: every
// single coefficient the decoder synthesises transforms back to itself, at
// the edges and with odd and even sizes.
// Rows then columns, each lifted on its own: the plain form of forwardLevel,
// whose columns go in blocks (widths around and off the block size).
TEST(ForwardTransform, LevelLiftsEveryRowThenEveryColumn)
{
    for (int32_t width : {7, 16, 33, 50}) {
        CoefficientPlane plane;
        plane.height = 21;
        plane.width = width;
        plane.samples.resize(static_cast<size_t>(plane.height) * width);
        for (size_t i = 0; i < plane.samples.size(); i++)
            plane.samples[i] = static_cast<float>(std::sin(0.37 * i) * 90.0 + (i % 5) * 3.0);
        std::vector<double> expect(plane.samples.begin(), plane.samples.end()), line(64), scratch(64);
        auto liftFloats = [&](size_t first, int32_t n, size_t stride) {
            for (int32_t i = 0; i < n; i++)
                line[i] = static_cast<float>(expect[first + i * stride]);
            forwardLift(line.data(), n, 1, scratch.data());
            for (int32_t i = 0; i < n; i++)
                expect[first + i * stride] = static_cast<float>(line[i]);
        };
        for (int32_t r = 0; r < plane.height; r++)
            liftFloats(static_cast<size_t>(r) * width, width, 1);
        for (int32_t c = 0; c < width; c++)
            liftFloats(static_cast<size_t>(c), plane.height, static_cast<size_t>(width));
        forwardLevel(&plane, 0);
        for (size_t i = 0; i < expect.size(); i++)
            ASSERT_EQ(plane.samples[i], static_cast<float>(expect[i])) << "width " << width << " at " << i;
    }
}

TEST(ForwardTransform, InvertsTheDecodersSynthesis)
{
    const int32_t sizes[][2] = {{13, 17}, {16, 22}, {25, 20}, {34, 41}};
    for (const auto& size : sizes) {
        int32_t H = size[0], W = size[1];
        int32_t levels = levelCount(H, W);
        ASSERT_GE(levels, 1);
        for (int32_t r = 0; r < H; r++) {
            for (int32_t c = 0; c < W; c++) {
                int32_t level, band;
                locate(H, W, levels, r, c, &level, &band);
                int32_t value = band < 0 ? (1 << 22) : (1 << 14);
                std::vector<double> picture = decoderImpulse(H, W, levels, r, c, level, band, value);
                CoefficientPlane plane;
                plane.height = H;
                plane.width = W;
                plane.samples.assign(picture.begin(), picture.end());
                forwardTransform(&plane, levels);
                double expected = band < 0 ? value / (32.0 * std::ldexp(1.0, levels))
                                           : value / detailScale(level, band);
                for (int32_t i = 0; i < H; i++) {
                    for (int32_t j = 0; j < W; j++) {
                        double want = (i == r && j == c) ? expected : 0.0;
                        ASSERT_NEAR(plane.row(i)[j], want, 1e-4 * std::fabs(expected) + 0.05)
                            << H << "x" << W << " impulse at " << r << "," << c << " seen at " << i << "," << j;
                    }
                }
            }
        }
    }
}

TEST(ForwardColour, InvertsTheDecodersColourTransformAndSplit)
{
    double yuv[3];
    forwardColour(200.0, 40.0, 90.0, yuv);
    const double rgb[3] = {200.0, 40.0, 90.0};
    for (int32_t k = 0; k < 3; k++) {
        double back = 0.0;
        for (int32_t c = 0; c < 3; c++)
            back += kLowestColourGain[c][k] * yuv[c];
        EXPECT_NEAR(back, rgb[k], 1e-9);
    }
    // Detail values of chroma components enter at half scale.
    for (int32_t c = 0; c < 3; c++) {
        int32_t out[3];
        splitColourValue(c, 3, 800, out);
        for (int32_t k = 0; k < 3; k++)
            EXPECT_NEAR(out[k], 800.0 * kDetailColourGain[c][k], 1.0);
        for (int32_t k = 0; k < 3; k++)
            EXPECT_NEAR(kDetailColourGain[c][k], (c == 0 ? 1.0 : 2.0) * kLowestColourGain[c][k], 1e-12);
    }
}

} // namespace

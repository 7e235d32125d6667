#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>

#include "codec/core/geometry.h"
#include "codec/encoder/encoder.h"
#include "codec/encoder/tile_sample.h"
#include "tests/support/test_pictures.h"

namespace {

// The chosen tiles sit at the middle ranks of equal runs of ranks, and come
// back in picture order.
TEST(TileSample, TilesComeFromEvenlySpreadRanks)
{
    std::vector<double> detail(100);
    std::iota(detail.begin(), detail.end(), 0.0);
    std::mt19937 shuffle(7);
    std::shuffle(detail.begin(), detail.end(), shuffle);
    std::vector<int32_t> chosen = tilesAcrossRanks(detail, 10);
    ASSERT_EQ(chosen.size(), 10u);
    EXPECT_TRUE(std::is_sorted(chosen.begin(), chosen.end()));
    std::vector<double> taken;
    for (int32_t t : chosen)
        taken.push_back(detail[static_cast<size_t>(t)]);
    std::sort(taken.begin(), taken.end());
    for (size_t k = 0; k < taken.size(); k++)
        EXPECT_EQ(taken[k], 10.0 * static_cast<double>(k) + 5.0);
    EXPECT_TRUE(tilesAcrossRanks(detail, 101).empty());
}

// Noise where `busy` says, a flat grey elsewhere.
PictureSamples noisyWhere(int32_t height, int32_t width, int32_t components, bool (*busy)(int32_t, int32_t))
{
    PictureSamples p = makeTestPicture(height, width, components, 8, 1);
    std::mt19937 noise(5);
    for (int32_t r = 0; r < height; r++)
        for (int32_t c = 0; c < width; c++)
            for (int32_t k = 0; k < components; k++)
                p.samples[(static_cast<size_t>(r) * width + c) * components + k]
                    = static_cast<uint16_t>(busy(r, c) ? 64 + noise() % 128 : 100 + 20 * k);
    return p;
}

// A picture whose left half is flat and right half busy: the busy tiles
// rank above the flat ones.
TEST(TileSample, DetailRanksBusyTilesAboveFlatOnes)
{
    PictureSamples busy = noisyWhere(512, 1024, 1, [](int32_t, int32_t c) { return c >= 512; });
    EncoderParams p;
    PreparedPicture prepared;
    std::string error;
    ASSERT_TRUE(preparePicture(busy.view(), p, &prepared, &error)) << error;
    std::vector<double> detail = tileDetail(prepared, 128, 16.0);
    ASSERT_EQ(detail.size(), 4u * 8u);
    for (int32_t row = 0; row < 4; row++) {
        // Tiles wholly inside the flat half (away from its edge) carry nothing.
        for (int32_t col = 0; col < 3; col++)
            EXPECT_EQ(detail[static_cast<size_t>(row) * 8 + col], 0.0) << row << " " << col;
        for (int32_t col = 4; col < 8; col++)
            EXPECT_GT(detail[static_cast<size_t>(row) * 8 + col], 1000.0) << row << " " << col;
    }
}

// A flat picture's sample is flat: no detail, and the lowest band, built
// down from the picture's coarser levels where the sample has fewer, holds
// the picture's value.
TEST(TileSample, FlatPictureGivesAFlatSample)
{
    PictureSamples flat = makeTestPicture(1024, 2048, 1, 8, 1);
    std::fill(flat.samples.begin(), flat.samples.end(), uint16_t(77));
    EncoderParams p;
    PreparedPicture prepared;
    std::string error;
    ASSERT_TRUE(preparePicture(flat.view(), p, &prepared, &error)) << error;
    TileSample sample;
    ASSERT_TRUE(takeTileSample(prepared, &sample));
    const PreparedPicture& s = sample.prepared;
    EXPECT_LT(s.levels, prepared.levels);
    EXPECT_EQ(s.levels, levelCount(s.height, s.width));
    EXPECT_NEAR(sample.share, 1.0 / 8.0, 1e-12);
    int32_t R = levelSize(s.height, s.levels), C = levelSize(s.width, s.levels);
    for (int32_t r = 0; r < s.height; r++)
        for (int32_t c = 0; c < s.width; c++) {
            float v = s.planes[0].row(r)[c];
            if (r < R && c < C)
                ASSERT_NEAR(v, 77.0, 1e-3) << r << " " << c;
            else
                ASSERT_NEAR(v, 0.0, 1e-3) << r << " " << c;
        }
}

// Mostly flat pictures with a few busy tiles: the sample's tiles come from
// every rank, so their planned bits, scaled by area, stand for the
// picture's; tiles taken at fixed places would miss the busy ones or take
// too many.
TEST(TileSample, SampleRatesAsThePictureDoes)
{
    for (int32_t components : {1, 3}) {
        // Noise in one tile of every eight, on a diagonal.
        PictureSamples picture = noisyWhere(1024, 1024, components,
                                            [](int32_t r, int32_t c) { return (r / 128 + c / 128) % 8 == 3; });
        EncoderParams p;
        p.decodeMode = 1;
        p.mapCoder = 1;
        p.valueCoder = 0;
        p.quantStep = 12;
        PreparedPicture prepared;
        std::string error;
        ASSERT_TRUE(preparePicture(picture.view(), p, &prepared, &error)) << error;
        TileSample sample;
        ASSERT_TRUE(takeTileSample(prepared, &sample));
        auto plannedBits = [&](const PreparedPicture& pp) {
            PicturePlan plan;
            PlanRates rates;
            planPicture(pp.planes, pp.components, pp.levels, planSettingsOf(p), &plan, &rates);
            double bits = 0.0;
            for (double b : rates.levelBits)
                bits += b;
            return bits;
        };
        double whole = plannedBits(prepared);
        double scaled = plannedBits(sample.prepared) / sample.share;
        EXPECT_NEAR(scaled / whole, 1.0, 0.05) << "components " << components;
    }
}

// The detail and the sample are the same on any number of threads: colour,
// so that every component's and band's share is taken on its own.
TEST(TileSample, EveryThreadCountTakesTheSameSample)
{
    PictureSamples picture = noisyWhere(1024, 1152, 3, [](int32_t r, int32_t c) { return (r / 96 + c / 160) % 3 == 1; });
    EncoderParams p;
    PreparedPicture prepared;
    std::string error;
    ASSERT_TRUE(preparePicture(picture.view(), p, &prepared, &error)) << error;
    std::vector<double> detail = tileDetail(prepared, 128, 16.0, 1);
    TileSample one;
    ASSERT_TRUE(takeTileSample(prepared, &one, 1));
    for (int32_t threads : {2, 3, 5}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        EXPECT_EQ(tileDetail(prepared, 128, 16.0, threads), detail);
        TileSample sample;
        ASSERT_TRUE(takeTileSample(prepared, &sample, threads));
        ASSERT_EQ(sample.prepared.levels, one.prepared.levels);
        for (int32_t c = 0; c < 3; c++)
            EXPECT_TRUE(sample.prepared.planes[c].samples == one.prepared.planes[c].samples) << "component " << c;
    }
}

} // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "codec/encoder/effort_search.h"
#include "codec/encoder/step_search.h"
#include "tests/support/test_pictures.h"

namespace {

TEST(EffortSearch, CandidatesKeepWhatTheCallerFixed)
{
    EncoderParams base;
    base.decodeMode = 1;
    base.mapCoder = 1;
    EXPECT_EQ(effortCandidates(base, 1, FixedChoices()).size(), 1u);
    std::vector<EncoderParams> all = effortCandidates(base, 3, FixedChoices());
    ASSERT_GT(all.size(), 4u);
    EXPECT_EQ(all[0].decodeMode, 1);
    EXPECT_EQ(all[0].valueCost, base.valueCost);
    // Effort 3 tries the other mode once, at the given coder and cost.
    int32_t otherMode = 0;
    for (const EncoderParams& p : all)
        if (p.decodeMode == 0) {
            otherMode++;
            EXPECT_EQ(p.mapCoder, base.mapCoder);
            EXPECT_EQ(p.valueCost, base.valueCost);
            EXPECT_EQ(p.magnitudeBoost, base.magnitudeBoost);
        }
    EXPECT_EQ(otherMode, 1);

    // Effort 2 tries the other level-progressive scan once, at the given cost.
    int32_t otherScan = 0;
    for (const EncoderParams& p : effortCandidates(base, 2, FixedChoices()))
        if (p.decodeMode == 1 && p.mapCoder == 0) {
            otherScan++;
            EXPECT_EQ(p.valueCost, base.valueCost);
        }
    EXPECT_EQ(otherScan, 1);
    FixedChoices scanFixed;
    scanFixed.mapCoder = true;
    for (const EncoderParams& p : effortCandidates(base, 2, scanFixed))
        EXPECT_EQ(p.mapCoder, 1);

    FixedChoices fixed;
    fixed.mode = fixed.mapCoder = fixed.valueCost = fixed.boost = true;
    EXPECT_EQ(effortCandidates(base, 3, fixed).size(), 1u);
    // Sharpening compensation is prepared for one mode only.
    base.sharpenCompensation = 1;
    for (const EncoderParams& p : effortCandidates(base, 3, FixedChoices()))
        EXPECT_EQ(p.decodeMode, 1);
}

// The chosen stream fits, decodes no worse than the first candidate's, and is
// the same whatever the number of threads.
TEST(EffortSearch, BestStreamIsTheSameOnAnyThreadCount)
{
    PictureSamples picture = makeTestPicture(64, 80, 3, 8, 11);
    EncoderParams base;
    base.decodeMode = 1;
    base.mapCoder = 1;
    PreparedPicture prepared;
    std::string error;
    ASSERT_TRUE(preparePicture(picture.view(), base, &prepared, &error)) << error;
    std::vector<EncoderParams> candidates = effortCandidates(base, 2, FixedChoices());
    const int64_t target = 1200;

    std::vector<uint8_t> one, three, first;
    EncoderParams chosenOne, chosenThree;
    ASSERT_TRUE(encodeBestToSize(picture.view(), prepared, candidates, target, 1, &one, &chosenOne, nullptr, &error))
        << error;
    ASSERT_TRUE(encodeBestToSize(picture.view(), prepared, candidates, target, 3, &three, &chosenThree, nullptr,
                                 &error))
        << error;
    EXPECT_EQ(one, three);
    EXPECT_EQ(chosenOne.decodeMode, chosenThree.decodeMode);
    EXPECT_LE(static_cast<int64_t>(one.size()), target);

    int32_t step;
    ASSERT_TRUE(encodeToSize(prepared, base, target, &first, &step, nullptr, &error)) << error;
    EXPECT_LE(decodedSquaredError(one, picture.view()), decodedSquaredError(first, picture.view()));
    EXPECT_LT(decodedSquaredError({1, 2, 3}, picture.view()), 0.0);
}

// Crossed waves a few pixels long: dense detail in the fine bands, which
// raster runs carry in fewer bytes than the curve scan.
PictureSamples makeWaves(int32_t height, int32_t width, int32_t components)
{
    PictureSamples p;
    p.height = height;
    p.width = width;
    p.components = components;
    p.samples.resize(size_t(height) * width * components);
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++)
            for (int32_t c = 0; c < components; c++) {
                double v = 0.5 + 0.15 * std::sin(x * 0.5 + 2 * std::sin(y * 0.05) + c)
                           + 0.15 * std::sin(y * 0.45 + 2 * c) + 0.1 * std::sin((x + y) * 0.3 - c);
                p.samples[(size_t(y) * width + x) * components + c] = uint16_t(std::lround(255 * v));
            }
    return p;
}

PreparedPicture prepare(const PictureSamples& picture, const EncoderParams& params = EncoderParams())
{
    PreparedPicture prepared;
    std::string error;
    EXPECT_TRUE(preparePicture(picture.view(), params, &prepared, &error)) << error;
    return prepared;
}

int32_t chosenMapCoder(const PictureSamples& picture, const EncoderParams& params)
{
    return chooseMapCoder(picture.view(), prepare(picture, params), params);
}

TEST(EffortSearch, MapCoderFollowsTheBytesOfBothScans)
{
    EncoderParams base;
    base.decodeMode = 1;
    base.mapCoder = 1;
    base.valueCoder = 0;
    // Both scans are written at once where there are threads for them.
    for (int32_t threads : {1, 2, 3}) {
        SCOPED_TRACE(threads);
        base.threads = threads;
        EXPECT_EQ(chosenMapCoder(makeWaves(160, 192, 1), base), 0);
        EXPECT_EQ(chosenMapCoder(makeWaves(96, 128, 3), base), 0);
        // Detail that clusters stays with the curve scan.
        EXPECT_EQ(chosenMapCoder(makeTestPicture(96, 128, 3, 8, 5), base), 1);
        // A large picture is probed on a strip of its rows (colour ones
        // planned without the colour feedback, as the whole picture is).
        EXPECT_EQ(chosenMapCoder(makeWaves(1100, 1000, 1), base), 0);
        EXPECT_EQ(chosenMapCoder(makeWaves(1100, 1000, 3), base), 0);
    }
    base.threads = 1;

    // Streams the choice does not cover keep their map coder.
    EncoderParams other = base;
    other.decodeMode = 0;
    EXPECT_EQ(chosenMapCoder(makeWaves(96, 128, 1), other), 1);
    other = base;
    other.valueCoder = 1;
    EXPECT_EQ(chosenMapCoder(makeWaves(96, 128, 1), other), 1);
    other = base;
    other.mapCoder = 2;
    other.valueCoder = 2;
    EXPECT_EQ(chosenMapCoder(makeWaves(96, 128, 1), other), 2);
}

// The probe writes one plan in both scans: the streams differ, the decoded
// pictures do not.
TEST(EffortSearch, ReusedPlanWritesTheSameValuesInTheOtherScan)
{
    PictureSamples picture = makeWaves(72, 88, 3);
    EncoderParams params;
    params.decodeMode = 1;
    params.mapCoder = 1;
    params.quantStep = 12;
    PreparedPicture prepared;
    std::string error;
    ASSERT_TRUE(preparePicture(picture.view(), params, &prepared, &error)) << error;
    EncodeWorkspace workspace;
    std::vector<uint8_t> curve, raster;
    ASSERT_TRUE(encodePrepared(prepared, params, &curve, nullptr, &error, &workspace)) << error;
    params.mapCoder = 0;
    workspace.reusePlan = true;
    ASSERT_TRUE(encodePrepared(prepared, params, &raster, nullptr, &error, &workspace)) << error;
    EXPECT_NE(curve, raster);
    DecodeResult a = decodeAndCompare(curve, picture);
    DecodeResult b = decodeAndCompare(raster, picture);
    ASSERT_EQ(a.status, 0);
    ASSERT_EQ(b.status, 0);
    EXPECT_EQ(a.samples, b.samples);
    EXPECT_GT(a.psnr, 30.0);
}

// Grey or colour noise around mid-grey: dense, Gaussian detail at every level.
PictureSamples makeNoise(int32_t components, int32_t bitsPerSample, double deviation)
{
    PictureSamples p;
    p.height = 72;
    p.width = 88;
    p.components = components;
    p.bitsPerSample = bitsPerSample;
    p.samples.resize(size_t(p.height) * p.width * components);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, deviation);
    double top = std::ldexp(1.0, bitsPerSample) - 1.0;
    for (uint16_t& s : p.samples)
        s = uint16_t(std::lround(std::clamp(top / 2 + noise(random), 0.0, top)));
    return p;
}

// Dense, Gaussian finest detail keeps the low-rate value cost at every rate;
// sparse detail (edges), smooth waves and faint noise follow the rate.
TEST(EffortSearch, DenseFinestDetailKeepsTheLowRateCost)
{
    const double lowRate = valueCostForRate(0.25);
    ASSERT_GT(valueCostForRate(2.0), lowRate);
    for (const PictureSamples& dense : {makeNoise(1, 8, 20.0), makeNoise(3, 8, 20.0), makeNoise(1, 12, 320.0)}) {
        PreparedPicture prepared = prepare(dense);
        EXPECT_TRUE(finestDetailIsDense(prepared));
        EXPECT_EQ(valueCostForPicture(prepared, 2.0), lowRate);
    }
    // Noise of 20 at 12 bits is faint; so are the waves' few pixels long
    // swings at the finest level; the test picture's detail is edges.
    for (const PictureSamples& other :
         {makeNoise(1, 12, 20.0), makeWaves(72, 88, 3), makeTestPicture(72, 88, 1, 8, 3)}) {
        PreparedPicture prepared = prepare(other);
        EXPECT_FALSE(finestDetailIsDense(prepared));
        EXPECT_EQ(valueCostForPicture(prepared, 2.0), valueCostForRate(2.0));
        EXPECT_EQ(valueCostForPicture(prepared, 0.7), valueCostForRate(0.7));
    }
}

} // namespace

#include <gtest/gtest.h>

#include "codec/encoder/quantiser.h"
#include "codec/encoder/significance_planner.h"

namespace {

int32_t nearest(const Dequantiser& d, double magnitude, int32_t minJ = 0, int32_t maxJ = 1000)
{
    return chooseMagnitudeIndex(d, magnitude, minJ, maxJ, nullptr);
}

TEST(MagnitudeIndex, LandsOnTheNearestMidpoint)
{
    Dequantiser plain = encoderDequantiser(20, 0, 0, 3, 0); // 10, 30, 50, ...
    EXPECT_EQ(nearest(plain, 0.0), 0);
    EXPECT_EQ(nearest(plain, 19.9), 0);
    EXPECT_EQ(nearest(plain, 20.1), 1);
    EXPECT_EQ(nearest(plain, 49.0), 2);
    // Explicit positions of one-pass streams start at index 1.
    EXPECT_EQ(nearest(plain, 3.0, 1), 1);
    EXPECT_EQ(nearest(plain, 5000.0, 0, 7), 7);
    double error;
    chooseMagnitudeIndex(plain, 33.0, 0, 100, &error);
    EXPECT_DOUBLE_EQ(error, 9.0);
}

TEST(MagnitudeIndex, FollowsTheFineQuantiserAndItsGap)
{
    // q 20, 3 fine steps: h 5, K 4; 2, 7, 12, 17, then 10 (index K), 30, 50.
    Dequantiser fine = encoderDequantiser(20, 3, 0, 3, 0);
    EXPECT_EQ(nearest(fine, 1.0), 0);
    EXPECT_EQ(nearest(fine, 8.0), 1);
    EXPECT_EQ(nearest(fine, 18.0), 3);
    EXPECT_EQ(nearest(fine, 26.0), 5);
    EXPECT_EQ(nearest(fine, 52.0), 6);
    // Boost at the two finest levels: 30 becomes 37, so 36 picks index 1.
    Dequantiser boosted = encoderDequantiser(20, 0, 2, 0, 0);
    EXPECT_EQ(dequantiseMagnitude(&boosted, 1), 37);
    EXPECT_EQ(nearest(boosted, 36.0), 1);
    EXPECT_EQ(nearest(boosted, 24.0), 0); // 12 (index 0) against 37
    // One-pass value coder 2 always has K = q / h: with no fine steps, K 1.
    Dequantiser unary = encoderDequantiser(20, 0, 2, 0, 1);
    EXPECT_EQ(dequantiseMagnitude(&unary, 0), 12);
    EXPECT_EQ(dequantiseMagnitude(&unary, 2), 37);
}

TEST(LowestBand, ReconstructsAtIntervalCentres)
{
    // Q = 32 x 4 = 128: component 0 maps 0 to Q, components 1, 2 to 0.
    EXPECT_EQ(quantiseLowest(100.0, 4, 0), 0);
    EXPECT_EQ(quantiseLowest(100.0, 4, 1), 0);
    EXPECT_EQ(quantiseLowest(300.0, 4, 1), 1);  // 384 is nearer than 0
    EXPECT_EQ(quantiseLowest(-300.0, 4, 2), -1);
    EXPECT_EQ(quantiseLowest(-100.0, 4, 0), 0); // +128 beats -384
    EXPECT_EQ(quantiseLowest(-300.0, 4, 0), -1);
    EXPECT_EQ(quantiseLowest(128.0 * 41, 4, 0), 20);
    EXPECT_DOUBLE_EQ(reconstructLowest(20, 4, 0), 128.0 * 41);
    EXPECT_DOUBLE_EQ(reconstructLowest(0, 4, 2), 0.0);
}

TEST(ErrorWeights, MatchTheSynthesisPatterns)
{
    std::vector<double> w;
    detailErrorWeights(3, &w);
    // Level 0: pattern 2 v P / 32 (bands 0, 1) and v P / 32 (band 2).
    EXPECT_NEAR(w[0], 6.0 * 46.0 / 256.0, 1e-9);
    EXPECT_NEAR(w[2], 46.0 * 46.0 / 1024.0, 1e-9);
    // Values are scaled per level so that weights stay of the same order.
    for (double x : w) {
        EXPECT_GT(x, 0.3);
        EXPECT_LT(x, 3.0);
    }
    EXPECT_DOUBLE_EQ(componentErrorWeight(0, 3), 1.0);
    EXPECT_DOUBLE_EQ(componentErrorWeight(1, 3), (4.0 + 0.25 + 4.0) / 3.0);
}

TEST(MagnitudeLimits, KeepValuesTheCodersCanCarry)
{
    EXPECT_EQ(maxMagnitudeIndex(1, 0, 4, 0), 32003); // 2 J + 2 <= 64008
    EXPECT_GT(maxMagnitudeIndex(0, 0, 4, 0), 1 << 24);
    EXPECT_LT(static_cast<int64_t>(maxMagnitudeIndex(0, 3, 1, 0)) * 1, int64_t(1) << 30);
}

} // namespace

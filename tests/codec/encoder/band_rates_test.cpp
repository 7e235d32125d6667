#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "codec/encoder/band_rates.h"
#include "codec/encoder/quantiser.h"

namespace {

BandRates ratesOf(double zeros, std::initializer_list<double> indexes)
{
    CountModel counts;
    counts.reset(1, 1);
    BandCounts& band = counts.band(0, 0, 2);
    band.zeros = zeros;
    int32_t J = 0;
    for (double k : indexes)
        band.index[J++] = k;
    RateModel rates;
    estimateRates(counts, &rates);
    return rates.band(0, 0, 2);
}

TEST(BandRates, FrequentSymbolsCostLessAndNoneIsFree)
{
    BandRates r = ratesOf(900, {80, 20});
    EXPECT_LT(r.zeroBits, r.bits(0));
    EXPECT_LT(r.bits(0), r.bits(1));
    EXPECT_LT(r.bits(1), r.bits(2));
    // Index 0 takes 8% of the symbols and carries a sign: about 4.6 bits.
    EXPECT_NEAR(r.bits(0), -std::log2(0.08) + 1.0, 0.1);
    for (int32_t J : {5, kRatedIndexes - 1, kRatedIndexes, 1000, 1 << 20}) {
        EXPECT_TRUE(std::isfinite(r.bits(J))) << J;
        EXPECT_GT(r.bits(J), r.bits(J - 1) - 1e-9) << J;
    }
    // An empty band: leaving out is nearly free, coding is dear but finite.
    BandRates empty = ratesOf(5000, {});
    EXPECT_LT(empty.zeroBits, 0.01);
    EXPECT_GT(empty.bits(0), 10.0);
    EXPECT_TRUE(std::isfinite(empty.bits(3)));
}

TEST(RatedIndex, NeverCostsMoreThanTheNearestIndex)
{
    BandRates r = ratesOf(500, {200, 90, 40, 20, 10, 5, 2, 1});
    std::mt19937 random(16);
    std::uniform_real_distribution<double> magnitude(0.0, 400.0);
    for (const Dequantiser& d : {encoderDequantiser(20, 0, 0, 3, 0), encoderDequantiser(20, 3, 0, 3, 0),
                                 encoderDequantiser(13, 0, 4, 0, 0)}) {
        for (double lambda : {0.0, 10.0, 400.0}) {
            for (int32_t i = 0; i < 2000; i++) {
                double m = magnitude(random);
                double w = 0.5 + i % 4;
                double error;
                int32_t nearest = chooseMagnitudeIndex(d, m, 0, 50, &error);
                double cost;
                int32_t J = chooseRatedIndex(d, m, w, lambda, r, 50, &cost);
                ASSERT_TRUE(J == nearest || J == nearest - 1) << m;
                ASSERT_LE(cost, w * error + lambda * r.bits(nearest) + 1e-9) << m;
                double diff = dequantiseMagnitude(&d, J) - m;
                ASSERT_NEAR(cost, w * diff * diff + lambda * r.bits(J), 1e-6 * (1.0 + cost));
                if (lambda == 0.0) {
                    ASSERT_EQ(J, nearest) << m;
                }
            }
        }
    }
    // A magnitude just past a step boundary goes down when bits are dear.
    Dequantiser plain = encoderDequantiser(20, 0, 0, 3, 0);   // 10, 30, 50, ...
    double cost;
    EXPECT_EQ(chooseRatedIndex(plain, 41.0, 1.0, 0.0, r, 50, &cost), 2);
    EXPECT_EQ(chooseRatedIndex(plain, 41.0, 1.0, 400.0, r, 50, &cost), 1);
}

// A context that has seen many symbols prices them by its own frequencies;
// one that has seen none by its band's.
TEST(ContextRates, FollowTheirOwnCountsWhereTheyHaveThem)
{
    ContextCountModel counts;
    counts.reset(1, 2);
    ContextCounts& band = counts.band(0, 1, 1);
    band.after[0].zeros = 9000;    // after a zero mostly zeros
    band.after[0].index[0] = 1000;
    band.after[1].zeros = 1000;    // after an index 0 mostly index 0
    band.after[1].index[0] = 9000;
    band.after[2].index[3] = 3;    // a context seen rarely
    RateModel bands;
    ContextRateModel rates;
    estimateContextRates(counts, &bands, &rates);
    const ContextRates& r = rates.band(0, 1, 1);
    const BandRates& whole = bands.band(0, 1, 1);
    EXPECT_NEAR(r.after[0].zeroBits, -std::log2(0.9), 0.01);
    EXPECT_NEAR(r.after[0].bits(0), -std::log2(0.1) + 1.0, 0.05);
    EXPECT_NEAR(r.after[1].bits(0), -std::log2(0.9) + 1.0, 0.01);
    // The band's own estimate sees both contexts: about half zeros.
    EXPECT_NEAR(whole.zeroBits, 1.0, 0.01);
    EXPECT_NEAR(r.after[3].zeroBits, whole.zeroBits, 1e-9);
    EXPECT_NEAR(r.after[3].bits(5), whole.bits(5), 1e-9);
    // Three symbols do not outweigh the band, but lower what they saw.
    EXPECT_LT(r.after[2].bits(3), whole.bits(3));
    EXPECT_GT(r.after[2].zeroBits, whole.zeroBits);
    EXPECT_LT(r.after[2].zeroBits, 3.0);
    for (const BandRates& k : r.after)
        for (int32_t J : {0, 7, kRatedIndexes, 4000}) {
            EXPECT_TRUE(std::isfinite(k.bits(J)));
            EXPECT_GT(k.bits(J), 1.0);
        }
}

} // namespace

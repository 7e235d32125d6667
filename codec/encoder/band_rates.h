// Estimated cost of the detail bands in bits: what the coders spend on a
// tested position left out and on each coded magnitude index (sign included),
// per component, level and band, taken from the symbols of a plan.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/core/dequantiser.h"
#include "codec/encoder/quantiser.h"

// Indexes from the last one on share one tally.
constexpr int32_t kRatedIndexes = 48;

struct BandCounts {
    double zeros = 0.0;                  // tested positions left out
    double index[kRatedIndexes] = {};    // coded values by magnitude index
};

struct BandRates {
    double zeroBits = 0.0;
    double indexBits[kRatedIndexes] = {};

    double bits(int32_t J) const { return J < kRatedIndexes - 1 ? indexBits[J] : bitsBeyond(J); }
    double bitsBeyond(int32_t J) const;
};

template <typename Band>
struct BandTable {
    int32_t levels = 0;
    std::vector<Band> bands;

    void reset(int32_t components, int32_t levelCount)
    {
        levels = levelCount;
        bands.assign(static_cast<size_t>(components) * (levelCount > 0 ? levelCount : 0) * 3, Band());
    }
    Band& band(int32_t c, int32_t L, int32_t b) { return bands[(static_cast<size_t>(c) * levels + L) * 3 + b]; }
    const Band& band(int32_t c, int32_t L, int32_t b) const
    {
        return bands[(static_cast<size_t>(c) * levels + L) * 3 + b];
    }
};

using CountModel = BandTable<BandCounts>;
using RateModel = BandTable<BandRates>;

// Adaptive-coder estimate: each band's symbol frequencies, smoothed by a
// geometric prior so that indexes never seen still have a finite cost.
void estimateRates(const CountModel& counts, RateModel* rates);

// Value coder 0 codes each symbol in the context of the symbol before it in
// the scan: rates by the class of that symbol (a zero, index 0, 1, or more).
constexpr int32_t kRateContexts = 4;
inline int32_t rateContext(int32_t J)
{
    return J < 0 ? 0 : (J < 2 ? J + 1 : 3);
}

struct ContextCounts {
    BandCounts after[kRateContexts];
};
struct ContextRates {
    BandRates after[kRateContexts];
};
using ContextCountModel = BandTable<ContextCounts>;
using ContextRateModel = BandTable<ContextRates>;

// Each context's frequencies, drawn towards its band's where the context has
// seen few symbols; *bands receives the bands' own estimate.
void estimateContextRates(const ContextCountModel& counts, RateModel* bands, ContextRateModel* rates);

// The index in [0, maxJ] of least cost w e^2 + lambda bits(J) for magnitude m,
// e the distance of J's reconstruction: the nearest index, or the one below
// it where that saves enough bits. *cost receives the cost.
inline int32_t chooseRatedIndex(const Dequantiser& d, double m, double w, double lambda, const BandRates& band,
                                int32_t maxJ, double* cost)
{
    double error;
    int32_t J = chooseMagnitudeIndex(d, m, 0, maxJ, &error);
    double best = w * error + lambda * band.bits(J);
    if (J > 0) {
        double diff = static_cast<double>(dequantiseMagnitude(&d, J - 1)) - m;
        double lower = w * diff * diff + lambda * band.bits(J - 1);
        if (lower < best) {
            best = lower;
            J--;
        }
    }
    *cost = best;
    return J;
}

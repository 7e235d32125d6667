// Estimated cost of the detail bands in bits: what the coders spend on a
// tested position left out and on each coded magnitude index (sign included),
// per component, level and band, taken from the symbols of a plan.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/core/dequantiser.h"

// Indexes from the last one on share one tally.
constexpr int32_t kRatedIndexes = 48;

struct BandCounts {
    double zeros = 0.0;                  // tested positions left out
    double index[kRatedIndexes] = {};    // coded values by magnitude index
};

struct BandRates {
    double zeroBits = 0.0;
    double indexBits[kRatedIndexes] = {};

    double bits(int32_t J) const;
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

// The index in [0, maxJ] of least cost w e^2 + lambda bits(J) for magnitude m,
// e the distance of J's reconstruction: the nearest index, or the one below
// it where that saves enough bits. *cost receives the cost.
int32_t chooseRatedIndex(const Dequantiser& d, double m, double w, double lambda, const BandRates& band,
                         int32_t maxJ, double* cost);

#include "codec/encoder/band_rates.h"

#include <cmath>

#include "codec/encoder/quantiser.h"

double BandRates::bits(int32_t J) const
{
    if (J < kRatedIndexes - 1)
        return indexBits[J];
    // The shared tally spreads over ever more indexes: about two bits more
    // for each doubling.
    return indexBits[kRatedIndexes - 1] + 2.0 * std::log2((J + 1.0) / kRatedIndexes);
}

void estimateRates(const CountModel& counts, RateModel* rates)
{
    rates->levels = counts.levels;
    rates->bands.resize(counts.bands.size());
    for (size_t i = 0; i < counts.bands.size(); i++) {
        const BandCounts& n = counts.bands[i];
        BandRates& r = rates->bands[i];
        double coded = 0.0;
        for (double k : n.index)
            coded += k;
        double zero = (n.zeros + 0.5) / (n.zeros + coded + 1.0);
        r.zeroBits = -std::log2(zero);
        double significant = -std::log2(1.0 - zero);
        double prior = 1.0;
        for (int32_t J = 0; J < kRatedIndexes; J++) {
            prior *= 0.5;
            double share = (n.index[J] + prior) / (coded + 1.0);
            r.indexBits[J] = significant - std::log2(share) + 1.0;
        }
    }
}

int32_t chooseRatedIndex(const Dequantiser& d, double m, double w, double lambda, const BandRates& band,
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

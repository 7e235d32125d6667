#include "codec/encoder/band_rates.h"

#include <cmath>

double BandRates::bitsBeyond(int32_t J) const
{
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

namespace {

// Symbols a context must see before its own frequencies outweigh its band's.
constexpr double kContextPrior = 16.0;

} // namespace

void estimateContextRates(const ContextCountModel& counts, RateModel* bands, ContextRateModel* rates)
{
    CountModel summed;
    summed.levels = counts.levels;
    summed.bands.resize(counts.bands.size());
    for (size_t i = 0; i < counts.bands.size(); i++) {
        BandCounts& sum = summed.bands[i];
        for (const BandCounts& n : counts.bands[i].after) {
            sum.zeros += n.zeros;
            for (int32_t J = 0; J < kRatedIndexes; J++)
                sum.index[J] += n.index[J];
        }
    }
    estimateRates(summed, bands);
    rates->levels = counts.levels;
    rates->bands.resize(counts.bands.size());
    for (size_t i = 0; i < counts.bands.size(); i++) {
        const BandRates& band = bands->bands[i];
        for (int32_t k = 0; k < kRateContexts; k++) {
            const BandCounts& n = counts.bands[i].after[k];
            BandRates& r = rates->bands[i].after[k];
            double total = n.zeros;
            for (double m : n.index)
                total += m;
            auto bits = [&](double seen, double bandBits) {
                return -std::log2((seen + kContextPrior * std::exp2(-bandBits)) / (total + kContextPrior));
            };
            r.zeroBits = bits(n.zeros, band.zeroBits);
            // The sign bit stays outside the frequencies.
            for (int32_t J = 0; J < kRatedIndexes; J++)
                r.indexBits[J] = bits(n.index[J], band.indexBits[J] - 1.0) + 1.0;
        }
    }
}

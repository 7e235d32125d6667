#include "codec/encoder/quantiser.h"

#include <cmath>
#include <vector>

#include "codec/encoder/forward_transform.h"

Dequantiser encoderDequantiser(int32_t quantStep, int32_t fineSteps, int32_t magnitudeBoost,
                               int32_t L, int32_t kAlways)
{
    int32_t fine = fineSteps > 0 || magnitudeBoost > 0;
    return makeDequantiser(static_cast<uint32_t>(quantStep), 0, L, fine, magnitudeBoost, fineSteps,
                           kAlways);
}

namespace {

// Best index of the monotone segment [lo, hi] around the estimate.
void trySegment(const Dequantiser& d, double magnitude, int64_t estimate, int64_t lo, int64_t hi,
                int32_t* best, double* bestError)
{
    if (lo > hi)
        return;
    for (int64_t J = estimate - 1; J <= estimate + 1; J++) {
        int64_t k = J < lo ? lo : (J > hi ? hi : J);
        double diff = static_cast<double>(dequantiseMagnitude(&d, static_cast<int32_t>(k))) - magnitude;
        double e = diff * diff;
        if (e < *bestError || (e == *bestError && k < *best)) {
            *bestError = e;
            *best = static_cast<int32_t>(k);
        }
    }
}

} // namespace

int32_t chooseFineMagnitudeIndex(const Dequantiser& d, double magnitude, int32_t minJ, int32_t maxJ,
                                 double* error)
{
    if (maxJ < minJ)
        maxJ = minJ;
    double gain = 1.0 + (d.fine ? d.boost / 8.0 : 0.0);
    double base = magnitude / gain;
    int32_t best = minJ;
    double bestError = HUGE_VAL;
    if (d.fine && d.fineCount > 0) {
        int64_t estimate = static_cast<int64_t>(std::floor(base / d.fineStep));
        trySegment(d, magnitude, estimate, minJ, d.fineCount - 1 < maxJ ? d.fineCount - 1 : maxJ,
                   &best, &bestError);
    }
    int32_t K = d.fine ? d.fineCount : 0;
    double steps = d.quantStep > 0 ? std::floor(base / d.quantStep) : 0.0;
    if (steps > 2e9)
        steps = 2e9;
    trySegment(d, magnitude, K + static_cast<int64_t>(steps), minJ > K ? minJ : K, maxJ, &best,
               &bestError);
    if (error)
        *error = bestError;
    return best;
}

double reconstructLowest(int32_t d, int32_t quantStep, int32_t component)
{
    double Q = 32.0 * quantStep;
    if (d > 0)
        return Q * (2.0 * d + 1.0);
    if (d < 0)
        return -Q * (2.0 * -static_cast<double>(d) + 1.0);
    return component == 0 ? Q : 0.0;
}

int32_t quantiseLowest(double target, int32_t quantStep, int32_t component)
{
    double Q = 32.0 * quantStep;
    double estimate = std::floor((std::fabs(target) / Q - 1.0) / 2.0 + 0.5);
    if (estimate > 1e9)
        estimate = 1e9;
    int32_t e = static_cast<int32_t>(estimate) * (target < 0 ? -1 : 1);
    int32_t best = 0;
    double bestError = HUGE_VAL;
    int32_t candidates[5] = {0, e - 1, e, e + 1, -e};
    for (int32_t d : candidates) {
        double diff = reconstructLowest(d, quantStep, component) - target;
        if (diff * diff < bestError) {
            bestError = diff * diff;
            best = d;
        }
    }
    return best;
}

namespace {

// Squared norm of a unit coefficient synthesised once with the low or high
// taps and then expanded L times, in one dimension, away from the edges.
double basisEnergy1D(int32_t L, bool high)
{
    int32_t n = (16 << L) + 1;
    std::vector<double> x(static_cast<size_t>(n), 0.0), scratch(static_cast<size_t>(n));
    // Put the coefficient at the centre of the level-L signal of m samples.
    int32_t m = 17;
    int32_t lows = (m + 2) >> 1;
    x[high ? lows + 4 : 4] = 1.0;
    inverseLift(x.data(), m, 1, scratch.data());
    for (int32_t k = 0; k < L; k++) {
        m = 2 * m - 1;
        // Coarse samples become the low half; the detail half stays zero.
        int32_t coarse = (m + 2) >> 1;
        for (int32_t i = coarse; i < m; i++)
            x[i] = 0.0;
        inverseLift(x.data(), m, 1, scratch.data());
    }
    double energy = 0.0;
    for (int32_t i = 0; i < m; i++)
        energy += x[i] * x[i];
    return energy;
}

} // namespace

void detailErrorWeights(int32_t levels, std::vector<double>* weights)
{
    weights->assign(static_cast<size_t>(levels > 0 ? levels : 0) * 3, 0.0);
    double low = 0.0, high = 0.0;
    for (int32_t L = 0; L < levels; L++) {
        // Beyond a dozen levels the normalised weights no longer change.
        if (L <= 12) {
            low = basisEnergy1D(L, false);
            high = basisEnergy1D(L, true);
        }
        int32_t shift = L <= 12 ? L : 12;
        for (int32_t b = 0; b < 3; b++) {
            double energy = b == 2 ? high * high : low * high;
            double scale = detailScale(shift, b);
            (*weights)[static_cast<size_t>(L) * 3 + b] = energy / (scale * scale);
        }
    }
}

double componentErrorWeight(int32_t component, int32_t components)
{
    if (components == 1)
        return 1.0;
    const double* g = kDetailColourGain[component];
    return (g[0] * g[0] + g[1] * g[1] + g[2] * g[2]) / 3.0;
}

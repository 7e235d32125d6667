// Quantisation aware of how the decoder reconstructs: magnitude indexes that
// land nearest after the decoder's dequantisation (midpoints, fine sub-steps,
// magnitude boost), lowest-band values at the centres of their intervals, and
// the weight of each band in the picture's squared error.
#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

#include "codec/core/dequantiser.h"

// The decoder's dequantiser for level L of a stream (requests without exact
// steps). `kAlways` selects the fine count rule of one-pass value coder 2.
Dequantiser encoderDequantiser(int32_t quantStep, int32_t fineSteps, int32_t magnitudeBoost,
                               int32_t L, int32_t kAlways);

// The index J in [minJ, maxJ] whose reconstruction lies nearest to magnitude
// (ties go to the smaller index). *error receives the squared distance.
int32_t chooseFineMagnitudeIndex(const Dequantiser& d, double magnitude, int32_t minJ, int32_t maxJ,
                                 double* error);
inline int32_t chooseMagnitudeIndex(const Dequantiser& d, double magnitude, int32_t minJ, int32_t maxJ,
                                    double* error)
{
    if (d.fine || d.exact)
        return chooseFineMagnitudeIndex(d, magnitude, minJ, maxJ, error);
    if (maxJ < minJ)
        maxJ = minJ;
    // Reconstructions J q + q/2, evenly spaced: the nearest in closed form
    // (ties to the smaller index).
    double q = d.quantStep;
    double half = static_cast<double>(d.quantStep >> 1);
    double t = std::ceil((magnitude - half) / q - 0.5);
    int32_t J = t <= minJ ? minJ : (t >= maxJ ? maxJ : static_cast<int32_t>(t));
    if (error) {
        double diff = static_cast<double>(dequantiseMagnitude(&d, J)) - magnitude;
        *error = diff * diff;
    }
    return J;
}

// Lowest band: the stored difference d whose reconstruction is nearest to the
// plane value `target` (Q = 32 x quantStep): Q (2d + 1) for d > 0 and, for
// component 0, d = 0; -Q (2|d| + 1) for d < 0; 0 for d = 0 of components 1, 2.
int32_t quantiseLowest(double target, int32_t quantStep, int32_t component);
double reconstructLowest(int32_t d, int32_t quantStep, int32_t component);

// Squared error in the picture (pixel units) added by an error of 1 in a
// detail value, for levels 0 .. levels - 1: (*weights)[3 L + band]. Colour
// components multiply it by componentErrorWeight (per channel of the output).
void detailErrorWeights(int32_t levels, std::vector<double>* weights);
double componentErrorWeight(int32_t component, int32_t components);

// Chooses, for every detail coefficient, whether it is coded and with which
// magnitude index, under the zero-tree rules of each mode: in one-pass streams
// a coded position makes its coarser ancestors coded too; in level-progressive
// streams a position left out makes its finer descendants known zero. A
// bottom-up pass over each tree weighs squared error against the cost of the
// coded values (level-progressive: the bits the coders spend, as estimated
// from a first plan); a top-down pass applies the rules.
#pragma once
#include <cstdint>

#include <vector>

#include "codec/core/dequantiser.h"
#include "codec/encoder/band_rates.h"
#include "codec/encoder/coefficient_plan.h"
#include "codec/encoder/forward_transform.h"

struct PlanSettings {
    int32_t decodeMode;
    int32_t mapCoder;
    int32_t valueCoder;
    int32_t quantStep;
    int32_t fineSteps;
    int32_t magnitudeBoost;
    double valueCost;   // cost of one coded value, in squared quantisation steps
    int32_t threads = 1; // the plan is the same for every count
};

// The decoder's dequantiser for level L of a plan with these settings.
Dequantiser planDequantiser(const PlanSettings& settings, int32_t L);

// What a level-progressive plan with an adaptive value coder learnt: the
// rates its decisions used and the estimated bits of each level's symbols
// (empty for other plans).
struct PlanRates {
    RateModel bands;
    ContextRateModel contexts;
    bool inContext = false;        // value coder 0: decisions by context
    std::vector<double> levelBits; // estimated detail bits by level
};

// planes: the transformed components (lifting values, pixel units).
// *rates, if given, receives what the planning learnt.
void planPicture(const CoefficientPlane* planes, int32_t components, int32_t levels,
                 const PlanSettings& settings, PicturePlan* plan, PlanRates* rates = nullptr);

// Decides the finest level of a level-progressive plan again with its own
// value cost, the coarser levels as they are; rates are the plan's (from
// planPicture) and their levelBits[0] is updated. Sizes move smoothly with
// finestCost while the coarser levels' bits stay put.
void replanFinestLevel(const CoefficientPlane* planes, int32_t components, int32_t levels,
                       const PlanSettings& settings, double finestCost, PlanRates* rates, PicturePlan* plan);

// Children of coordinate x at the next finer level (level-progressive rule),
// for case code k; last: x is the band's last row or column.
inline void childSpan(int32_t k, int32_t x, bool last, int32_t* first, int32_t* count)
{
    switch (k) {
    case 0: *first = 2 * x - 1; *count = last ? 1 : 2; break;
    case 1: *first = 2 * x - 1; *count = 2; break;
    case 2: *first = 2 * x - 2; *count = 2; break;
    case 3: *first = 2 * x - 2; *count = last ? 3 : 2; break;
    case 4: *first = 2 * x; *count = last ? 0 : 2; break;
    case 5: *first = 2 * x; *count = last ? 1 : 2; break;
    default: *first = 0; *count = 0; break;
    }
}

// Largest magnitude index value coder `valueCoder` of mode `decodeMode` can
// carry for quantStep (one-pass value coder 0 is limited per level instead).
int32_t maxMagnitudeIndex(int32_t decodeMode, int32_t valueCoder, int32_t quantStep,
                          int32_t fineSteps);

#include "codec/encoder/final_fitting.h"

#include <cmath>
#include <string>
#include <utility>

#include "codec/encoder/colour_feedback.h"
#include "codec/encoder/significance_planner.h"
#include "codec/encoder/step_search.h"
#include "codec/encoder/synthesis_refinement.h"

namespace {

// Fitted values code fewer of the small ones: they start from this share of
// the chosen value cost, the log size falling by about kCostSlope per log
// value cost, in at most kCostTrials trials.
constexpr double kFittedCostShare = 0.75;
constexpr double kCostSlope = -0.12;
constexpr int32_t kCostTrials = 4;

} // namespace

bool refitsChosenStream(const PreparedPicture& prepared, const EncoderParams& params)
{
    int64_t samples = static_cast<int64_t>(prepared.height) * prepared.width;
    return params.synthesisRounds == 0 && prepared.sharpenedFor < 0 && prepared.levels > 0
           && params.mapCoder != 3 && samples <= kFinalFittingMaxSamples;
}

bool refitChosenStream(PreparedPicture* prepared, const EncoderParams& chosen, int64_t maxBytes,
                       std::vector<uint8_t>* out, EncodeStats* stats, PicturePlan* planned)
{
    if (!refitsChosenStream(*prepared, chosen))
        return false;
    PreparedPicture& fitted = *prepared;
    {
        const PlanSettings settings = planSettingsOf(chosen);
        PicturePlan plan;
        if (planned)
            std::swap(plan, *planned);
        else
            planWithColourFeedback(fitted.planes, fitted.components, fitted.levels, settings, &plan);
        if (!fitToSynthesis(fitted.planes, fitted.components, fitted.levels, settings, kFinalFittingRounds, &plan,
                            true))
            return false;
    }

    // The fitted values at the chosen step, the value cost moved by secant
    // until the stream lands in the window.
    // Strictly inside the window: a stream of exactly its floor reads as short.
    int64_t floorBytes = static_cast<int64_t>(std::ceil(static_cast<double>(maxBytes) * (1.0 - kSizeTolerance))) + 1;
    int64_t least = static_cast<int64_t>(out->size());
    if (least > floorBytes)
        least = floorBytes;
    double aim = std::log(static_cast<double>(maxBytes) * (1.0 - kSizeTolerance / 2));
    EncoderParams p = chosen;
    p.valueCost = chosen.valueCost * kFittedCostShare;
    p.searchProgress = nullptr;
    p.samplesRead = nullptr;
    EncodeWorkspace workspace;
    std::vector<uint8_t> trial;
    EncodeStats trialStats;
    std::string ignored;
    double lastX = NAN, lastY = NAN;
    for (int32_t t = 0; t < kCostTrials; t++) {
        if (!encodePrepared(fitted, p, &trial, &trialStats, &ignored, &workspace))
            return false;
        int64_t size = static_cast<int64_t>(trial.size());
        if (size <= maxBytes && size >= least) {
            out->swap(trial);
            if (stats)
                *stats = trialStats;
            return true;
        }
        double x = std::log(p.valueCost);
        double y = std::log(static_cast<double>(size > 0 ? size : 1));
        double slope = kCostSlope;
        if (!std::isnan(lastX) && x != lastX) {
            double measured = (y - lastY) / (x - lastX);
            if (measured < -0.02 && measured > -5.0)
                slope = measured;
        }
        lastX = x;
        lastY = y;
        double cost = std::exp(x + (aim - y) / slope);
        if (!(cost > 0.0) || !std::isfinite(cost) || cost == p.valueCost)
            return false;
        p.valueCost = cost;
    }
    return false;
}

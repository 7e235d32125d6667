#include "codec/encoder/final_fitting.h"

#include <cmath>
#include <string>
#include <utility>

#include "codec/encoder/colour_feedback.h"
#include "codec/encoder/effort_search.h"
#include "codec/encoder/significance_planner.h"
#include "codec/encoder/step_search.h"
#include "codec/encoder/synthesis_refinement.h"

namespace {

// Fitted values code fewer of the small ones: they start from this share of
// the chosen value cost, the log size falling by about kCostSlope per log
// value cost, in at most kCostTrials trials (kBracketedTrials once trials
// lie on both sides of the window). One trial moves the log cost at most
// kMaxCostMove; a measured slope flatter than kFlatSlope (or rising) says
// that the value cost does not steer the size.
constexpr double kFittedCostShare = 0.75;
constexpr double kCostSlope = -0.12;
constexpr int32_t kCostTrials = 4;
constexpr int32_t kBracketedTrials = 6;
constexpr double kMaxCostMove = 2.0;
constexpr double kFlatSlope = -0.02;

// Whether `trial` decodes closer to the picture than `current`.
bool decodesCloser(const std::vector<uint8_t>& trial, const std::vector<uint8_t>& current,
                   const EncoderPicture& picture)
{
    double error = decodedSquaredError(trial, picture);
    return error >= 0.0 && error < decodedSquaredError(current, picture);
}

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
    // The picture, where small enough to keep, for the landed stream to be
    // checked against: values fitted at another value cost than the chosen
    // one may decode farther from it.
    std::vector<uint16_t> samples;
    EncoderPicture picture;
    int64_t pictureSamples = static_cast<int64_t>(prepared->height) * prepared->width;
    bool check = pictureSamples <= kFinalCheckMaxSamples && restorePicture(*prepared, &samples, &picture);
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
    // The costs closest to the window from above (a stream over maxBytes)
    // and from below (a short one): sizes fall as the cost grows, so the
    // answer lies between them.
    double overX = -HUGE_VAL, overY = 0.0, shortX = HUGE_VAL, shortY = 0.0;
    auto bracketed = [&] { return std::isfinite(overX) && std::isfinite(shortX); };
    double lastX = NAN, lastY = NAN;
    for (int32_t t = 0; t < kCostTrials || (t < kBracketedTrials && bracketed()); t++) {
        if (!encodePrepared(fitted, p, &trial, &trialStats, &ignored, &workspace))
            return false;
        int64_t size = static_cast<int64_t>(trial.size());
        if (size <= maxBytes && size >= least) {
            if (check && !decodesCloser(trial, *out, picture))
                return false;
            out->swap(trial);
            if (stats)
                *stats = trialStats;
            return true;
        }
        double x = std::log(p.valueCost);
        double y = std::log(static_cast<double>(size > 0 ? size : 1));
        if (size > maxBytes && x > overX) {
            overX = x;
            overY = y;
        } else if (size < least && x < shortX) {
            shortX = x;
            shortY = y;
        }
        // A stream over the budget at a higher cost than a short one: the
        // sizes jump about rather than fall.
        if (overX >= shortX)
            return false;
        // The line through the last two trials where it falls, else the
        // usual slope; between the two closest trials it must stay off their
        // ends, else the line through them decides.
        double slope = kCostSlope;
        if (!std::isnan(lastX) && x != lastX) {
            double measured = (y - lastY) / (x - lastX);
            // The cost hardly moves the size: no trial would land.
            if (!bracketed() && measured > kFlatSlope)
                return false;
            if (measured < 0.0 && measured > -5.0)
                slope = measured;
        }
        double move = (aim - y) / slope;
        double next = x + std::fmin(std::fmax(move, -kMaxCostMove), kMaxCostMove);
        if (bracketed()) {
            double margin = 0.1 * (shortX - overX);
            if (!(next > overX + margin && next < shortX - margin)) {
                double share = (overY - aim) / (overY - shortY);
                next = overX + std::fmin(std::fmax(share, 0.1), 0.9) * (shortX - overX);
            }
        }
        lastX = x;
        lastY = y;
        double cost = std::exp(next);
        if (!(cost > 0.0) || !std::isfinite(cost) || cost == p.valueCost)
            return false;
        p.valueCost = cost;
    }
    return false;
}

bool searchesFittedStream(const PreparedPicture& prepared, const EncoderParams& params)
{
    int64_t samples = static_cast<int64_t>(prepared.height) * prepared.width;
    return refitsChosenStream(prepared, params) && samples < kFittedSearchMaxSamples;
}

bool searchFittedStream(const PreparedPicture& prepared, const EncoderParams& base, const EncoderParams& chosen,
                        int64_t maxBytes, std::vector<uint8_t>* out, EncodeStats* stats, int32_t* step)
{
    if (!searchesFittedStream(prepared, chosen))
        return false;
    EncoderParams p = base;
    p.quantStep = chosen.quantStep;
    p.synthesisRounds = kFittedSearchRounds;
    p.searchProgress = nullptr;
    p.samplesRead = nullptr;
    std::vector<uint8_t> fitted;
    EncodeStats fittedStats;
    int32_t fittedStep = 0;
    std::string ignored;
    SizeSearchReport report;
    if (!encodeToSize(prepared, p, maxBytes, &fitted, &fittedStep, &fittedStats, &ignored, &report) || report.cut)
        return false;
    int64_t size = static_cast<int64_t>(fitted.size());
    int64_t floorBytes = static_cast<int64_t>(std::ceil(static_cast<double>(maxBytes) * (1.0 - kSizeTolerance)));
    if (size > maxBytes || (size < floorBytes && size < static_cast<int64_t>(out->size())))
        return false;
    std::vector<uint16_t> samplesOf;
    EncoderPicture picture;
    if (!restorePicture(prepared, &samplesOf, &picture) || !decodesCloser(fitted, *out, picture))
        return false;
    out->swap(fitted);
    if (stats)
        *stats = fittedStats;
    *step = fittedStep;
    return true;
}

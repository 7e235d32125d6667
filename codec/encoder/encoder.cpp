#include "codec/encoder/encoder.h"

#include <cmath>

#include "codec/core/geometry.h"
#include "codec/encoder/bit_sink.h"
#include "codec/encoder/colour_feedback.h"
#include "codec/encoder/coefficient_plan.h"
#include "codec/encoder/header_writer.h"
#include "codec/encoder/large_arrays.h"
#include "codec/encoder/one_pass_writer.h"
#include "codec/encoder/parallel_tasks.h"
#include "codec/encoder/progressive_writer.h"
#include "codec/encoder/quantiser.h"
#include "codec/encoder/sharpen_compensation.h"
#include "codec/encoder/significance_planner.h"
#include "codec/encoder/synthesis_refinement.h"

namespace {

// The decoder's planes hold 2^(levels + 5) times the pixel value at the
// coarsest level; keep that (with headroom for overshoot) inside 32 bits.
constexpr int32_t kMaxLevelsPlusDepth = 25;

bool fail(std::string* error, const std::string& message)
{
    if (error)
        *error = message;
    return false;
}

} // namespace

std::string checkEncoderParams(const EncoderPicture& picture, const EncoderParams& p)
{
    if (picture.components != 1 && picture.components != 3)
        return "pictures must be grey or colour";
    if (picture.components == 3 && picture.bitsPerSample != 8)
        return "colour pictures are coded with 8 bits per sample";
    if (picture.bitsPerSample < 8 || picture.bitsPerSample > 16)
        return "grey pictures are coded with 8 to 16 bits per sample";
    if (picture.height > 65535 || picture.width > 65535)
        return "pictures are at most 65535 samples high and wide";
    if (picture.height < 6 || picture.width < 6)
        return "pictures must be at least 6 samples high and wide";
    int32_t levels = levelCount(picture.height, picture.width);
    if (levels + picture.bitsPerSample > kMaxLevelsPlusDepth)
        return "picture too large for " + std::to_string(picture.bitsPerSample)
               + "-bit samples: the decoder's 32-bit planes would overflow (use fewer bits per sample)";
    if (p.decodeMode != 0 && p.decodeMode != 1)
        return "the mode must be one-pass or progressive";
    if (p.mapCoder < 0 || p.mapCoder > 3)
        return "the map coder must be 0 to 3";
    if (p.valueCoder < 0 || p.valueCoder > 3)
        return "the value coder must be 0 to 3";
    if (p.decodeMode == 1 && p.mapCoder == 2 && p.valueCoder == 0)
        return "decoders refuse progressive streams with map coder 2 and value coder 0";
    if (p.quantStep < 1 || p.quantStep > 65535)
        return "the step must be 1 to 65535";
    if (p.fineSteps < 0 || p.fineSteps > kMaxFineSteps)
        return "fine steps must be 0 to " + std::to_string(kMaxFineSteps);
    if (p.magnitudeBoost < 0 || p.magnitudeBoost > kMaxMagnitudeBoost)
        return "the boost must be 0 to " + std::to_string(kMaxMagnitudeBoost);
    if (p.contrastStretch < 0 || p.contrastStretch > kMaxContrastStretch)
        return "the stretch must be 0 to " + std::to_string(kMaxContrastStretch);
    if (p.extension1 > 255 || p.extension2 > 255 || p.extension3 > 7)
        return "trailer fields are 0..255, 0..255 and 0..7";
    if (!(p.valueCost >= 0.0))
        return "the value cost must not be negative";
    if (p.synthesisRounds < 0 || p.synthesisRounds > kMaxSynthesisRounds)
        return "synthesis rounds must be 0 to " + std::to_string(kMaxSynthesisRounds);
    return std::string();
}

bool preparePicture(const EncoderPicture& picture, const EncoderParams& params,
                    PreparedPicture* prepared, std::string* error)
{
    EncoderParams defaults;
    std::string problem = checkEncoderParams(picture, defaults);
    if (!problem.empty())
        return fail(error, problem);
    int32_t H = picture.height;
    int32_t W = picture.width;
    int32_t n = picture.components;
    prepared->height = H;
    prepared->width = W;
    prepared->components = n;
    prepared->bitsPerSample = picture.bitsPerSample;
    prepared->levels = levelCount(H, W);
    // Deep grey output truncates where 8-bit output rounds: centre the values.
    double offset = n == 1 && picture.bitsPerSample > 8 ? 0.5 : 0.0;
    size_t count = static_cast<size_t>(H) * W;
    int32_t threads = encoderThreads(params.threads);
    for (int32_t c = 0; c < n; c++) {
        prepared->planes[c].height = H;
        prepared->planes[c].width = W;
    }
    // The planes' first touch (the system zeroing their pages) is most of a fill's time.
    runTasks(threads, static_cast<size_t>(n),
             [&](size_t c) { fillLargeArray(&prepared->planes[c].samples, count, 0.0f); });
    const uint16_t* s = picture.samples;
    size_t parts = count >= (size_t(1) << 16) ? static_cast<size_t>(threads) : 1;
    runTasks(threads, parts, [&](size_t part) {
        for (size_t i = count * part / parts, end = count * (part + 1) / parts; i < end; i++) {
            if (n == 1) {
                prepared->planes[0].samples[i] = static_cast<float>(s[i] + offset);
            } else {
                double yuv[3];
                forwardColour(s[3 * i], s[3 * i + 1], s[3 * i + 2], yuv);
                for (int32_t c = 0; c < 3; c++)
                    prepared->planes[c].samples[i] = static_cast<float>(yuv[c]);
            }
        }
    });
    bool sharpen = params.sharpenCompensation && prepared->levels > 0;
    prepared->sharpenedFor = sharpen ? params.decodeMode : -1;
    for (int32_t L = 0; L < prepared->levels; L++) {
        for (int32_t c = 0; c < n; c++)
            forwardLevel(&prepared->planes[c], L, threads);
        if (L == 0 && sharpen)
            compensateSharpening(prepared->planes, n, params.decodeMode);
    }
    return true;
}

bool restorePicture(const PreparedPicture& prepared, std::vector<uint16_t>* samples, EncoderPicture* picture)
{
    if (prepared.sharpenedFor >= 0 || prepared.components < 1)
        return false;
    int32_t n = prepared.components;
    CoefficientPlane planes[3];
    for (int32_t c = 0; c < n; c++) {
        planes[c] = prepared.planes[c];
        inverseTransform(&planes[c], prepared.levels);
    }
    size_t count = static_cast<size_t>(prepared.height) * prepared.width;
    double top = static_cast<double>((1 << prepared.bitsPerSample) - 1);
    auto sample = [top](double v) { return static_cast<uint16_t>(std::lround(std::fmin(std::fmax(v, 0.0), top))); };
    samples->resize(count * n);
    uint16_t* to = samples->data();
    if (n == 1) {
        double offset = prepared.bitsPerSample > 8 ? 0.5 : 0.0;
        for (size_t i = 0; i < count; i++)
            to[i] = sample(planes[0].samples[i] - offset);
    } else {
        const double (*gain)[3] = kLowestColourGain;
        for (size_t i = 0; i < count; i++) {
            double yuv[3] = {planes[0].samples[i], planes[1].samples[i], planes[2].samples[i]};
            for (int32_t k = 0; k < 3; k++)
                to[3 * i + k] = sample(gain[0][k] * yuv[0] + gain[1][k] * yuv[1] + gain[2][k] * yuv[2]);
        }
    }
    picture->height = prepared.height;
    picture->width = prepared.width;
    picture->components = n;
    picture->bitsPerSample = prepared.bitsPerSample;
    picture->samples = to;
    return true;
}

PlanSettings planSettingsOf(const EncoderParams& params)
{
    return {params.decodeMode, params.mapCoder, params.valueCoder, params.quantStep,
            params.fineSteps, params.magnitudeBoost, params.valueCost, encoderThreads(params.threads)};
}

StreamHeader streamHeaderOf(const PreparedPicture& prepared, const EncoderParams& params)
{
    return {prepared.height, prepared.width, prepared.bitsPerSample, prepared.components,
            params.quantStep, params.decodeMode, params.mapCoder, params.valueCoder,
            params.fineSteps, params.contrastStretch, params.magnitudeBoost,
            params.hasTrailer, params.extension1, params.extension2, params.extension3};
}

void planPrepared(const PreparedPicture& prepared, const EncoderParams& params, PicturePlan* plan, PlanRates* rates)
{
    const PlanSettings settings = planSettingsOf(params);
    planWithColourFeedback(prepared.planes, prepared.components, prepared.levels, settings, plan, rates);
    // Sharpening decoders do not rebuild the plain synthesis.
    if (prepared.sharpenedFor < 0)
        refineForSynthesis(prepared.planes, prepared.components, prepared.levels, settings, params.synthesisRounds,
                           plan);
}

bool encodePrepared(const PreparedPicture& prepared, const EncoderParams& params,
                    std::vector<uint8_t>* out, EncodeStats* stats, std::string* error,
                    EncodeWorkspace* workspace)
{
    EncoderPicture shape;
    shape.height = prepared.height;
    shape.width = prepared.width;
    shape.components = prepared.components;
    shape.bitsPerSample = prepared.bitsPerSample;
    std::string problem = checkEncoderParams(shape, params);
    if (!problem.empty())
        return fail(error, problem);
    int32_t sharpenedFor = params.sharpenCompensation && prepared.levels > 0 ? params.decodeMode : -1;
    if (prepared.sharpenedFor != sharpenedFor)
        return fail(error, "the picture was prepared for another sharpening compensation");

    const PlanSettings settings = planSettingsOf(params);
    EncodeWorkspace own;
    PicturePlan& plan = (workspace ? workspace : &own)->plan;
    if (!workspace || !workspace->reusePlan)
        planPrepared(prepared, params, &plan, workspace ? &workspace->rates : nullptr);

    if (params.contrastStretch > 0) {
        // Decoders centre the stretch on the mean of component 0's lowest
        // band, summed in 32 bits.
        int64_t sum = 0;
        for (int32_t d : plan.component[0].lowest)
            sum += static_cast<int64_t>(reconstructLowest(d, params.quantStep, 0));
        if (sum > INT32_MAX || sum < INT32_MIN)
            return fail(error, "picture too large for a contrast stretch: decoders cannot find its mean");
    }

    StreamHeader header = streamHeaderOf(prepared, params);
    out->clear();
    BitReader* writer = createBitSink(out);
    if (!writer)
        return fail(error, "out of memory");
    bool ok = params.decodeMode == 0 ? writeOnePassStream(writer, header, plan)
                                     : writeProgressiveStream(writer, header, plan, settings.threads);
    releaseBitSink(writer);
    if (!ok)
        return fail(error, "out of memory");
    if (stats) {
        stats->clampedValues = plan.clampedValues;
        stats->levels = prepared.levels;
        stats->cut = false;
    }
    return true;
}

bool encodePicture(const EncoderPicture& picture, const EncoderParams& params,
                   std::vector<uint8_t>* out, EncodeStats* stats, std::string* error)
{
    std::string problem = checkEncoderParams(picture, params);
    if (!problem.empty())
        return fail(error, problem);
    PreparedPicture prepared;
    if (!preparePicture(picture, params, &prepared, error))
        return false;
    return encodePrepared(prepared, params, out, stats, error);
}

#include "codec/encoder/effort_search.h"

#include <atomic>
#include <cmath>
#include <thread>

#include "codec/core/geometry.h"
#include "codec/encoder/colour_feedback.h"
#include "codec/encoder/parallel_tasks.h"
#include "codec/decoder/decoder.h"
#include "codec/encoder/step_search.h"

namespace {

// Rounds fitting the values to the synthesis at efforts 2 and 3.
constexpr int32_t kEffortSynthesisRounds[2] = {2, 4};

// The probe's step at 8 bits; its ratio of the two coders' sizes changes
// little with the step.
constexpr int32_t kMapProbeStep = 16;
// Share of map coder 1's bytes that map coder 0 must save to be chosen.
constexpr double kMapProbeMargin = 0.02;

// Value costs up to kLowRate bits per pixel and from kHighRate on; in
// between the log cost follows the log rate.
constexpr double kLowRate = 0.5;
constexpr double kHighRate = 1.0;
constexpr double kLowRateCost = 0.1;
constexpr double kHighRateCost = 0.2;

} // namespace

double valueCostForRate(double bitsPerPixel)
{
    if (!(bitsPerPixel > kLowRate))
        return kLowRateCost;
    if (bitsPerPixel >= kHighRate)
        return kHighRateCost;
    double share = std::log(bitsPerPixel / kLowRate) / std::log(kHighRate / kLowRate);
    return kLowRateCost * std::pow(kHighRateCost / kLowRateCost, share);
}

bool finestDetailIsDense(const PreparedPicture& prepared)
{
    const CoefficientPlane& plane = prepared.planes[0];
    if (prepared.levels < 1 || plane.height < 3 || plane.width < 3)
        return false;
    double squares = 0.0;
    double fourths = 0.0;
    int64_t count = 0;
    for (int32_t band = 0; band < 2; band++) {
        BandRect r = bandRect(plane.height, plane.width, 0, band);
        for (int32_t row = r.rowStart; row < r.rowEnd; row++) {
            const float* values = plane.row(row);
            for (int32_t col = r.colStart; col < r.colEnd; col++) {
                double v2 = static_cast<double>(values[col]) * values[col];
                squares += v2;
                fourths += v2 * v2;
            }
            count += r.colEnd - r.colStart;
        }
    }
    if (count == 0 || !(squares > 0.0))
        return false;
    double meanSquare = squares / static_cast<double>(count);
    double scale = std::ldexp(1.0, prepared.bitsPerSample - 8);
    double kurtosis = fourths / static_cast<double>(count) / (meanSquare * meanSquare);
    return meanSquare >= kDenseDetailRms * kDenseDetailRms * scale * scale && kurtosis < kDenseDetailKurtosis;
}

double valueCostForPicture(const PreparedPicture& prepared, double bitsPerPixel)
{
    return finestDetailIsDense(prepared) ? kLowRateCost : valueCostForRate(bitsPerPixel);
}

std::vector<EncoderParams> effortCandidates(const EncoderParams& given, int32_t effort, const FixedChoices& fixed)
{
    EncoderParams base = given;
    if (effort >= 2 && base.synthesisRounds == 0)
        base.synthesisRounds = effort >= 3 ? kEffortSynthesisRounds[1] : kEffortSynthesisRounds[0];
    std::vector<EncoderParams> out{base};
    if (effort < 2)
        return out;
    // Sharpening compensation is prepared for one mode.
    bool otherModes = !fixed.mode && !base.sharpenCompensation;
    std::vector<int32_t> modes{base.decodeMode};
    if (otherModes)
        modes.push_back(1 - base.decodeMode);
    std::vector<double> costs{base.valueCost};
    if (!fixed.valueCost)
        costs.insert(costs.end(), {base.valueCost * 0.5, base.valueCost * 2.0});
    std::vector<int32_t> boosts{base.magnitudeBoost};
    if (effort >= 3 && !fixed.boost && base.magnitudeBoost == 0)
        boosts.push_back(4);
    for (int32_t mode : modes) {
        std::vector<int32_t> maps{base.mapCoder};
        if (effort >= 3 && !fixed.mapCoder)
            for (int32_t m : mode == 0 ? std::vector<int32_t>{1, 2} : std::vector<int32_t>{0, 1})
                if (m != base.mapCoder)
                    maps.push_back(m);
        // Effort 2: the other level-progressive scan, at the given value cost
        // (the probe that chose the scan looks at one step only).
        bool otherScanOnly = effort == 2 && !fixed.mapCoder && mode == 1
                             && (base.mapCoder == 0 || base.mapCoder == 1);
        if (otherScanOnly)
            maps.push_back(1 - base.mapCoder);
        // Effort 3: the other mode once, at the given coder, cost and boost
        // (one-pass streams rarely decode closer at the same size).
        bool otherModeOnce = effort >= 3 && mode != base.decodeMode;
        for (int32_t map : maps)
            for (double cost : costs)
                for (int32_t boost : boosts) {
                    if (otherScanOnly && map != base.mapCoder && cost != base.valueCost)
                        continue;
                    if (otherModeOnce && (map != base.mapCoder || cost != base.valueCost || boost != base.magnitudeBoost))
                        continue;
                    EncoderParams p = base;
                    p.decodeMode = mode;
                    p.mapCoder = map;
                    p.valueCost = cost;
                    p.magnitudeBoost = boost;
                    // Progressive map coder 1 codes everything with value coders 1..3.
                    if (!fixed.valueCoder && p.valueCoder != 0 && mode == 1 && map == 1)
                        continue;
                    bool same = false;
                    for (const EncoderParams& q : out)
                        same |= q.decodeMode == p.decodeMode && q.mapCoder == p.mapCoder
                                && q.valueCost == p.valueCost && q.magnitudeBoost == p.magnitudeBoost;
                    if (!same)
                        out.push_back(p);
                }
    }
    return out;
}

int32_t chooseMapCoder(const EncoderPicture& picture, const PreparedPicture& prepared, const EncoderParams& params)
{
    if (params.decodeMode != 1 || params.mapCoder != 1 || params.valueCoder != 0 || prepared.levels <= 0)
        return params.mapCoder;
    EncoderParams probe = params;
    probe.quantStep = kMapProbeStep << (prepared.bitsPerSample - 8);
    probe.synthesisRounds = 0;
    probe.searchProgress = nullptr;
    probe.samplesRead = nullptr;
    const PreparedPicture* probed = &prepared;
    PreparedPicture strip;
    int64_t samples = int64_t(picture.height) * picture.width * picture.components;
    if (samples > kMapProbeSamples) {
        int32_t rows = static_cast<int32_t>(kMapProbeSamples / (int64_t(picture.width) * picture.components));
        if (rows < 64)
            rows = 64;
        if (rows < picture.height) {
            EncoderPicture middle = picture;
            middle.height = rows;
            middle.samples += static_cast<size_t>((picture.height - rows) / 2) * picture.width * picture.components;
            std::string error;
            if (!preparePicture(middle, probe, &strip, &error))
                return params.mapCoder;
            probed = &strip;
        }
    }
    // One plan, written by both scans at once. A strip is planned as the
    // whole picture is: without the colour feedback where the picture is too
    // large for it.
    EncodeWorkspace workspace;
    if (probed == &strip && int64_t(picture.height) * picture.width > kColourFeedbackMaxSamples)
        planPicture(strip.planes, strip.components, strip.levels, planSettingsOf(probe), &workspace.plan);
    else
        planPrepared(*probed, probe, &workspace.plan, nullptr);
    workspace.reusePlan = true;
    int32_t threads = encoderThreads(params.threads);
    probe.threads = threads > 2 ? threads / 2 : 1;
    std::vector<uint8_t> streams[2]; // curve, raster
    bool written[2] = {false, false};
    runTasks(threads, 2, [&](size_t scan) {
        EncoderParams p = probe;
        p.mapCoder = scan == 0 ? 1 : 0;
        written[scan] = encodePrepared(*probed, p, &streams[scan], nullptr, nullptr, &workspace);
    });
    if (!written[0] || !written[1])
        return params.mapCoder;
    const std::vector<uint8_t>& curve = streams[0];
    const std::vector<uint8_t>& raster = streams[1];
    return static_cast<double>(raster.size()) < (1.0 - kMapProbeMargin) * static_cast<double>(curve.size())
               ? 0
               : params.mapCoder;
}

double decodedSquaredError(const std::vector<uint8_t>& stream, const EncoderPicture& picture)
{
    StreamSource source{};
    source.data = stream.data();
    source.size = static_cast<int32_t>(stream.size());
    DecodeOptions request{};
    FrameInfo frame{};
    if (decodeStart(&source, &request, &frame) != 0 || !frame.pixels) {
        decodeFree(&frame);
        return -1.0;
    }
    size_t count = static_cast<size_t>(picture.height) * picture.width * picture.components;
    bool deep = picture.components == 1 && picture.bitsPerSample > 8;
    double sum = 0.0;
    for (size_t i = 0; i < count; i++) {
        int32_t decoded = deep ? frame.pixels[2 * i] | (frame.pixels[2 * i + 1] << 8) : frame.pixels[i];
        double d = static_cast<double>(picture.samples[i]) - decoded;
        sum += d * d;
    }
    decodeFree(&frame);
    return sum;
}

bool encodeBestToSize(const EncoderPicture& picture, const PreparedPicture& prepared,
                      const std::vector<EncoderParams>& candidates, int64_t maxBytes, int32_t threads,
                      std::vector<uint8_t>* out, EncoderParams* chosen, EncodeStats* stats, std::string* error)
{
    struct Result {
        bool ok = false;
        std::vector<uint8_t> stream;
        EncodeStats stats;
        int32_t step = 0;
        double valueCost = 0.0;
        double squaredError = 0.0;
        std::string error;
    };
    size_t n = candidates.size();
    std::vector<Result> results(n);
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < n; i = next++) {
            Result& r = results[i];
            SizeSearchReport report;
            r.ok = encodePictureToSize(prepared, candidates[i], maxBytes, &r.stream, &r.step, &r.stats, &r.error, &report);
            if (!r.ok)
                continue;
            r.valueCost = report.valueCost;
            r.squaredError = decodedSquaredError(r.stream, picture);
            r.ok = r.squaredError >= 0.0;
            if (!r.ok)
                r.error = "the decoder refused a stream of the search";
        }
    };
    size_t workers = threads < 1 ? 1 : static_cast<size_t>(threads);
    if (workers > n)
        workers = n;
    std::vector<std::thread> pool;
    for (size_t t = 1; t < workers; t++)
        pool.emplace_back(work);
    work();
    for (std::thread& t : pool)
        t.join();

    size_t best = n;
    for (size_t i = 0; i < n; i++)
        if (results[i].ok && (best == n || results[i].squaredError < results[best].squaredError))
            best = i;
    if (best == n) {
        if (error)
            *error = results.empty() ? "no parameters to try" : results[0].error;
        return false;
    }
    Result& r = results[best];
    out->swap(r.stream);
    *chosen = candidates[best];
    chosen->quantStep = r.step;
    chosen->valueCost = r.valueCost;
    if (stats)
        *stats = r.stats;
    return true;
}

#include "codec/encoder/step_search.h"

#include <cmath>
#include <algorithm>
#include <functional>

#include "codec/encoder/colour_feedback.h"
#include "codec/encoder/parallel_tasks.h"
#include "codec/encoder/progressive_writer.h"
#include "codec/encoder/tile_sample.h"

double eightBitRate(int64_t bytes, int32_t height, int32_t width, int32_t bitsPerSample)
{
    double pixels = static_cast<double>(height) * width;
    return 8.0 * static_cast<double>(bytes) / pixels * 8.0 / bitsPerSample;
}

namespace {

// The estimated bytes of a plan's detail, 0 where the planner estimates
// none (see PlanRates).
double estimatedBytes(const PlanRates& rates)
{
    double bits = 0.0;
    for (double b : rates.levelBits)
        bits += b;
    return bits / 8.0;
}

// Plans params into the workspace without writing; the plan's estimated
// bytes. feedback: colour pictures are planned as planWithColourFeedback does
// (else as planPicture does).
double planOnly(const PreparedPicture& prepared, const EncoderParams& params, EncodeWorkspace* workspace,
                bool feedback = true)
{
    if (feedback)
        planWithColourFeedback(prepared.planes, prepared.components, prepared.levels, planSettingsOf(params),
                               &workspace->plan, &workspace->rates);
    else
        planPicture(prepared.planes, prepared.components, prepared.levels, planSettingsOf(params), &workspace->plan,
                    &workspace->rates);
    return estimatedBytes(workspace->rates);
}

// Shortfalls from which a larger stream cut to the target decodes better.
constexpr double kCutBelow = 0.05;

// A trial on a log scale: x is the log of the step or of the value cost.
struct Point {
    double x;
    int64_t size;
};

struct Search {
    const PreparedPicture& prepared;
    EncoderParams trial;
    int64_t target;
    int64_t floorBytes;
    std::string* error;
    std::vector<uint8_t> stream;
    std::vector<uint8_t> best;
    EncodeWorkspace* workspace;
    int64_t bestSize = -1;
    // The smallest stream over the target, kept to be cut where nothing fits closely.
    std::vector<uint8_t> over;
    int64_t overSize = -1;
    EncoderParams overParams;
    EncodeStats overStats;
    EncoderParams bestParams;
    EncodeStats bestStats;
    int32_t encodes = 0;
    // The trials' work (see SizeSearchReport).
    int32_t plans = 0;
    int32_t writes = 0;
    int32_t finestWrites = 0;
    int32_t replans = 0;
    double lastX = NAN;   // knob position of the trial in progress, if any
    double bestX = NAN;   // knob positions of the best stream and of the smallest one over
    double overX = NAN;
    bool cut = false;        // the best stream is a larger one cut to the target
    bool lastIsBest = false; // the workspace holds the best stream's plan
    // Trials only plan and take the plan's estimated size (a sample's
    // search: sizes need only move as the real ones do).
    bool estimateOnly = false;
    // Such plans use the colour feedback (a sample's use it where the whole
    // picture's do, so that its sizes move as theirs).
    bool feedback = true;

    Search(const PreparedPicture& picture, const EncoderParams& params, int64_t maxBytes, std::string* message,
           EncodeWorkspace* arrays)
        : prepared(picture), trial(params), target(maxBytes),
          floorBytes(static_cast<int64_t>(std::ceil(static_cast<double>(maxBytes) * (1.0 - kSizeTolerance)))),
          error(message), workspace(arrays)
    {
    }

    bool run(int32_t q, double cost, int64_t* size)
    {
        trial.quantStep = q;
        trial.valueCost = cost;
        EncodeStats stats;
        lastIsBest = false;
        if (estimateOnly) {
            stream.clear();
            *size = std::llround(planOnly(prepared, trial, workspace, feedback));
            plans++;
        } else {
            plans += workspace && workspace->reusePlan ? 0 : 1;
            writes++;
            if (!encodePrepared(prepared, trial, &stream, &stats, error, workspace))
                return false;
            *size = static_cast<int64_t>(stream.size());
        }
        take(q, *size, stats);
        return true;
    }

    // Counts a trial of `trial` at step q whose stream (empty where only
    // estimated) is in `stream` and takes `size` bytes.
    void take(int32_t q, int64_t size, const EncodeStats& stats)
    {
        encodes++;
        if (trial.searchProgress)
            trial.searchProgress(trial.progressContext, q, size);
        if (size <= target && size > bestSize) {
            best.swap(stream);
            bestSize = size;
            bestParams = trial;
            bestStats = stats;
            bestX = lastX;
            lastIsBest = true;
        } else if (size > target && (overSize < 0 || size < overSize)) {
            over = stream;
            overSize = size;
            overParams = trial;
            overStats = stats;
            overX = lastX;
        }
    }

    // Where the closest stream falls short by more than kCutBelow (the sizes
    // jump over the window, as when every coefficient of a level is coded),
    // the smallest stream over the target cut to it: decoders stop at its end
    // with all that arrived. Closer misses keep the whole stream, which
    // mostly decodes better than a cut one. Only when the cut leaves the header and
    // the lowest band whole.
    bool cutOver()
    {
        if (over.empty() || bestSize >= static_cast<int64_t>(static_cast<double>(target) * (1.0 - kCutBelow)))
            return true;
        EncoderParams bare = overParams;
        bare.mapCoder = 3;
        bare.synthesisRounds = 0;
        std::vector<uint8_t> lowest;
        EncodeStats unused;
        if (!encodePrepared(prepared, bare, &lowest, &unused, error))
            return false;
        // A few bytes beyond the lowest band, for coders whose last bytes carry its end.
        if (static_cast<int64_t>(lowest.size()) + 16 > target)
            return true;
        over.resize(static_cast<size_t>(target));
        best.swap(over);
        bestSize = target;
        bestParams = overParams;
        bestStats = overStats;
        bestStats.cut = true;
        cut = true;
        return true;
    }

    bool done() const { return bestSize >= floorBytes; }

    // The parameters of a trial at step q and value cost `cost`.
    EncoderParams trialAt(int32_t q, double cost) const
    {
        EncoderParams p = trial;
        p.quantStep = q;
        p.valueCost = cost;
        return p;
    }

    // Gives the caller the best stream that fits and how it was found.
    void handOver(std::vector<uint8_t>* out, int32_t* step, EncodeStats* stats, SizeSearchReport* report)
    {
        *step = bestParams.quantStep;
        if (stats)
            *stats = bestStats;
        if (report) {
            report->step = bestParams.quantStep;
            report->valueCost = bestParams.valueCost;
            report->encodes = encodes;
            report->plans = plans;
            report->writes = writes;
            report->finestWrites = finestWrites;
            report->replans = replans;
            report->cut = cut;
            report->planKept = lastIsBest && !cut;
        }
        out->swap(best);
    }

    // Searches x in [xMin, xMax] for a size in [floorBytes, target], sizes
    // falling as x grows. Guesses interpolate log size linearly in x between
    // the nearest trials on either side (the slope given stands in until both
    // sides are known), halving the interval when that stalls. `snap` maps a
    // guess onto a value that can be tried; `apart` tells whether two values
    // still have a value between them. On return *low and *high hold the
    // closest trials too large and fitting (x = NAN where none).
    bool falling(const std::function<bool(double, int64_t*)>& sizeAt,
                 const std::function<double(double)>& snap,
                 const std::function<bool(double, double)>& apart,
                 const std::function<double(double, int)>& nudge, Point start, double xMin,
                 double xMax, double slope, int32_t budget, Point* low, Point* high)
    {
        *low = {NAN, 0};
        *high = {NAN, 0};
        (start.size > target ? *low : *high) = start;
        double aim = std::log(static_cast<double>(target) * (1.0 - kSizeTolerance / 2));
        double lastWidth = HUGE_VAL;
        Point previous{NAN, 0};
        for (int32_t t = 0; t < budget && !done(); t++) {
            double x;
            bool haveLow = !std::isnan(low->x), haveHigh = !std::isnan(high->x);
            if (haveLow && haveHigh) {
                if (!apart(low->x, high->x))
                    return true;
                double width = high->x - low->x;
                double s0 = std::log(static_cast<double>(low->size));
                double s1 = std::log(static_cast<double>(high->size > 0 ? high->size : 1));
                x = s0 > s1 ? low->x + (s0 - aim) / (s0 - s1) * width : 0.5 * (low->x + high->x);
                if (width > 0.6 * lastWidth)
                    x = 0.5 * (low->x + high->x);
                lastWidth = width;
            } else {
                const Point& p = haveLow ? *low : *high;
                // The last two trials on this side give the slope once there are two.
                double k = slope;
                if (!std::isnan(previous.x) && previous.x != p.x && previous.size != p.size) {
                    double measured = (std::log(static_cast<double>(p.size)) - std::log(static_cast<double>(previous.size)))
                                      / (p.x - previous.x);
                    if (measured < 0.0)
                        k = measured > -0.02 ? -0.02 : measured;
                }
                double move = (aim - std::log(static_cast<double>(p.size > 0 ? p.size : 1))) / k;
                if (std::fabs(move) > 3.0)
                    move = move < 0 ? -3.0 : 3.0;
                x = p.x + move;
                if ((haveLow && low->x >= xMax) || (haveHigh && high->x <= xMin))
                    return true;
            }
            x = snap(x < xMin ? xMin : (x > xMax ? xMax : x));
            // Move at least to the next value that can be tried.
            if (haveLow && !(x > low->x + 1e-9))
                x = snap(std::fmin(nudge(low->x, 1), haveHigh ? high->x : xMax));
            if (haveHigh && !(x < high->x - 1e-9))
                x = snap(std::fmax(nudge(high->x, -1), haveLow ? low->x : xMin));
            if ((haveLow && !(x > low->x + 1e-9)) || (haveHigh && !(x < high->x - 1e-9)))
                return true;
            int64_t size;
            if (!sizeAt(x, &size))
                return false;
            Point& side = size > target ? *low : *high;
            previous = side;
            side = {x, size};
        }
        return true;
    }
};

constexpr double kMaxValueCost = 4096.0;
constexpr double kMinValueCost = 1.0 / 4096.0;

} // namespace

namespace {

bool searchExactly(const PreparedPicture& prepared, const EncoderParams& params, int64_t maxBytes,
                   EncodeWorkspace* workspace, std::vector<uint8_t>* out, int32_t* step, EncodeStats* stats,
                   std::string* error, SizeSearchReport* report)
{
    Search s(prepared, params, maxBytes, error, workspace);
    double cost = params.valueCost > kMinValueCost ? params.valueCost : kMinValueCost;

    // The step first: sizes fall roughly as a power of it.
    auto sizeAtStep = [&](double x, int64_t* size) {
        return s.run(static_cast<int32_t>(std::lround(std::exp(x))), cost, size);
    };
    auto snapStep = [](double x) { return std::log(static_cast<double>(std::lround(std::exp(x)))); };
    auto stepsApart = [](double a, double b) { return std::lround(std::exp(b)) - std::lround(std::exp(a)) > 1; };
    auto nextStep = [](double x, int direction) {
        return std::log(static_cast<double>(std::lround(std::exp(x)) + direction));
    };
    int32_t first = params.quantStep >= 1 && params.quantStep <= 65535 ? params.quantStep : 4;
    int64_t size;
    if (!s.run(first, cost, &size))
        return false;
    Point low, high;
    if (!s.falling(sizeAtStep, snapStep, stepsApart, nextStep, {std::log(first), size}, 0.0, std::log(65535.0),
                   -1.3, 40, &low, &high))
        return false;
    if (s.bestSize < 0) {
        if (error)
            *error = "cannot reach " + std::to_string(maxBytes) + " bytes: the smallest stream takes "
                     + std::to_string(low.size) + " bytes";
        return false;
    }

    // Between two neighbouring steps: the finer one leaving more values out,
    // else the coarser one coding more.
    auto costAt = [&](int32_t q) {
        return [&, q](double x, int64_t* size) { return s.run(q, std::exp(x), size); };
    };
    auto snapCost = [](double x) { return std::round(x * 1000.0) / 1000.0; };
    auto costsApart = [](double a, double b) { return b - a > 1.5e-3; };
    auto nextCost = [](double x, int direction) { return x + 0.01 * direction; };
    double x0 = std::log(cost);
    // Coding every coefficient of a level, the value cost moves the sizes
    // too little to matter: the gap is the finest level's.
    bool codesEveryCoefficient = params.decodeMode == 1 && params.mapCoder == 1 && params.valueCoder != 0;
    if (!s.done() && !std::isnan(low.x) && !codesEveryCoefficient) {
        int32_t finer = static_cast<int32_t>(std::lround(std::exp(low.x)));
        Point cl, ch;
        if (!s.falling(costAt(finer), snapCost, costsApart, nextCost, {x0, low.size}, x0, std::log(kMaxValueCost),
                       -0.1, 12, &cl, &ch))
            return false;
    }
    if (!s.done() && !std::isnan(high.x) && !codesEveryCoefficient) {
        int32_t coarser = static_cast<int32_t>(std::lround(std::exp(high.x)));
        Point cl, ch;
        if (!s.falling(costAt(coarser), snapCost, costsApart, nextCost, {x0, high.size}, std::log(kMinValueCost), x0,
                       -0.1, 12, &cl, &ch))
            return false;
    }
    if (!s.cutOver())
        return false;

    s.handOver(out, step, stats, report);
    return true;
}

} // namespace

bool encodeToSize(const PreparedPicture& prepared, const EncoderParams& params, int64_t maxBytes,
                  std::vector<uint8_t>* out, int32_t* step, EncodeStats* stats, std::string* error,
                  SizeSearchReport* report)
{
    EncodeWorkspace workspace;
    if (!searchExactly(prepared, params, maxBytes, &workspace, out, step, stats, error, report))
        return false;
    if (report)
        report->planKept = false; // the workspace is gone
    return true;
}

namespace {

// One continuous knob for the rate: the step is the nearest whole number to
// e^x and the value cost absorbs the rounding, cost0 e^(beta (x - log step)),
// so that sizes fall smoothly as x grows instead of in steps.
struct Knob {
    double cost0;
    double beta;

    int32_t step(double x) const
    {
        double q = std::exp(x);
        return q < 1.0 ? 1 : (q > 65535.0 ? 65535 : static_cast<int32_t>(std::lround(q)));
    }
    double cost(double x) const
    {
        double c = cost0 * std::exp(beta * (x - std::log(static_cast<double>(step(x)))));
        return c < kMinValueCost ? kMinValueCost : (c > kMaxValueCost ? kMaxValueCost : c);
    }
};

// Searches the knob from x0 within `budget` trials; *slope holds the slope of
// log size against x to start from and receives the one measured last.
bool searchKnob(Search* s, const Knob& knob, double x0, double* slope, int32_t budget)
{
    auto sizeAt = [&](double x, int64_t* size) {
        s->lastX = x;
        return s->run(knob.step(x), knob.cost(x), size);
    };
    int64_t size;
    if (!sizeAt(x0, &size))
        return false;
    Point low, high;
    auto same = [](double x) { return x; };
    // Close to a change of step the sizes jump: no use searching further there.
    auto apart = [&](double a, double b) { return b - a > 1e-4 && (knob.step(a) == knob.step(b) || b - a > 0.02); };
    auto nudge = [](double x, int direction) { return x + 1e-3 * direction; };
    if (!s->falling(sizeAt, same, apart, nudge, {x0, size}, 0.0, std::log(65535.0), *slope, budget - 1, &low,
                    &high))
        return false;
    if (!std::isnan(low.x) && !std::isnan(high.x) && high.x > low.x && high.size > 0) {
        double k = (std::log(static_cast<double>(high.size)) - std::log(static_cast<double>(low.size)))
                   / (high.x - low.x);
        if (k < -0.05 && k > -20.0)
            *slope = k;
    }
    return true;
}

// The sample's prepared picture and what its trials taught: the knob, how
// fast the size falls along it (*slope) and with the value cost alone
// (*costSlope), and the trials spent. Its trials plan in `workspace`, which
// holds the plan of the last one.
struct SampleSearch {
    PreparedPicture prepared;
    EncodeWorkspace workspace;
    int32_t plannedStep = 0;
    double plannedCost = -1.0;
    EncoderParams params;
    Knob knob{0.0, 4.5};
    double slope = -1.0;
    double costSlope = -0.15;
    int32_t encodes = 0;
    bool estimated = false; // sizes are the plans' estimates (see Search::estimateOnly)
    bool wholeFeedback = false; // the whole picture is planned with the colour feedback
};

// A trial of the sample: the knob position, the step and value cost it
// stands for, and the size of the sample's stream.
struct SampleTrial {
    double x;
    int32_t step;
    double cost;
    int64_t size;
};

// Sample sizes aimed at lie within this share either side of the aim: the
// whole picture's window is 1% wide, and the sample's scale drifts a little
// from one trial to the next.
constexpr double kSampleMargin = 0.003;
constexpr double kFittedSampleMargin = 0.01;
// Misses up to this share move the value cost alone; larger ones the knob.
constexpr double kCostOnlyMiss = 0.03;

// Searches the sample, from `from`, for a step and value cost whose stream
// takes `bytes`: along the knob for a large miss, then with the value cost
// alone at the closest trial's step, where sizes move smoothly (the knob's
// sizes jump a little where the step changes). *found receives the closest
// trial that fits, else the smallest one over.
bool searchSampleFor(SampleSearch* sample, double bytes, const SampleTrial& from, SampleTrial* found,
                     std::string* error)
{
    // Whole trials whose finest level fits again need the sample less close.
    double margin = sample->estimated ? kFittedSampleMargin : kSampleMargin;
    Search trial(sample->prepared, sample->params, static_cast<int64_t>(bytes * (1.0 + margin)), error,
                 &sample->workspace);
    trial.floorBytes = static_cast<int64_t>(std::ceil(bytes * (1.0 - margin)));
    trial.estimateOnly = sample->estimated;
    trial.feedback = sample->wholeFeedback;
    auto smallestOver = [&]() -> SampleTrial {
        return {trial.overX, trial.overParams.quantStep, trial.overParams.valueCost, trial.overSize};
    };
    auto closest = [&]() -> SampleTrial {
        if (trial.bestSize >= 0)
            return {trial.bestX, trial.bestParams.quantStep, trial.bestParams.valueCost, trial.bestSize};
        if (trial.overSize >= 0)
            return smallestOver();
        return from;
    };
    bool ok = true;
    SampleTrial start = from;
    if (from.size <= 0 || std::fabs(std::log(bytes / static_cast<double>(from.size))) > kCostOnlyMiss) {
        ok = searchKnob(&trial, sample->knob, from.x, &sample->slope, 12);
        // The finer step leaving more values out, else the coarser one coding more.
        start = trial.overSize < 0 ? closest() : smallestOver();
    }
    if (ok && !trial.done() && start.size > 0) {
        int32_t q = start.step;
        auto sizeAt = [&](double x, int64_t* size) {
            trial.lastX = start.x;
            return trial.run(q, std::exp(x), size);
        };
        auto same = [](double x) { return x; };
        auto apart = [](double a, double b) { return b - a > 1e-4; };
        auto nudge = [](double x, int direction) { return x + 1e-3 * direction; };
        Point low, high;
        ok = trial.falling(sizeAt, same, apart, nudge, {std::log(start.cost), start.size}, std::log(kMinValueCost),
                           std::log(kMaxValueCost), sample->costSlope, 10, &low, &high);
        if (ok && !std::isnan(low.x) && !std::isnan(high.x) && high.x > low.x && high.size > 0) {
            double k = (std::log(static_cast<double>(high.size)) - std::log(static_cast<double>(low.size)))
                       / (high.x - low.x);
            if (k < -0.02 && k > -5.0)
                sample->costSlope = k;
        }
    }
    sample->encodes += trial.encodes;
    if (trial.encodes > 0) {
        sample->plannedStep = trial.trial.quantStep;
        sample->plannedCost = trial.trial.valueCost;
    }
    if (!ok)
        return false;
    *found = closest();
    // The starting point was not tried again: keep it where it comes closer.
    double aim = bytes;
    if (from.size > 0 && found->size > 0
        && std::fabs(std::log(static_cast<double>(from.size) / aim))
               < std::fabs(std::log(static_cast<double>(found->size) / aim)))
        *found = from;
    return true;
}

// A large picture's coders, adapting over longer runs, write about this
// share of the bytes per estimated byte that its sample's write.
constexpr double kWholeBytesPerSampleByte = 0.955;
// The whole picture's bytes per estimated byte assumed before the sample's
// are known.
constexpr double kTypicalBytesPerEstimate = 0.92;

// The whole picture's bytes per estimated byte as the sample's stream at
// `at`, written, foretells them.
bool sampleBytesPerEstimate(SampleSearch* sample, const SampleTrial& at, double* bytesPerEstimate,
                            std::string* error)
{
    EncoderParams p = sample->params;
    p.quantStep = at.step;
    p.valueCost = at.cost;
    EncodeWorkspace& arrays = sample->workspace;
    // The last trial's plan is written where it was planned at `at`.
    arrays.reusePlan = sample->estimated && at.step == sample->plannedStep && at.cost == sample->plannedCost;
    std::vector<uint8_t> stream;
    EncodeStats stats;
    bool ok = encodePrepared(sample->prepared, p, &stream, &stats, error, &arrays);
    arrays.reusePlan = false;
    if (!ok)
        return false;
    sample->encodes++;
    sample->plannedStep = at.step;
    sample->plannedCost = at.cost;
    double estimated = estimatedBytes(arrays.rates);
    if (estimated > 0.0 && !stream.empty())
        *bytesPerEstimate = kWholeBytesPerSampleByte * static_cast<double>(stream.size()) / estimated;
    return true;
}

// The step that streams of photographs and renders at the rate of maxBytes
// take, roughly: 16 at one bit per pixel at 8 bits a sample, inversely as
// the rate, scaled with the depth's range.
int32_t stepForRate(const PreparedPicture& prepared, int64_t maxBytes)
{
    double bitsPerPixel = eightBitRate(maxBytes, prepared.height, prepared.width, prepared.bitsPerSample);
    double step = 16.0 / bitsPerPixel * std::ldexp(1.0, prepared.bitsPerSample - 8);
    return step < 1.0 ? 1 : (step > 65535.0 ? 65535 : static_cast<int32_t>(std::lround(step)));
}

// Trials on the whole picture before the exact search takes over.
constexpr int32_t kWholeTrials = 4;
// Misses within this log distance of the aim are left to the finest level
// (deciding it again reaches a few per cent either way).
constexpr double kFinestReach = 0.04;

// Plans whose finest level can be decided again on its own: level-progressive
// with an adaptive value coder, nothing refitted after planning.
bool finestLevelFits(const PreparedPicture& prepared, const EncoderParams& params)
{
    bool codesEveryCoefficient = params.mapCoder == 1 && params.valueCoder != 0;
    return params.decodeMode == 1 && params.valueCoder <= 1 && params.mapCoder != 3 && !codesEveryCoefficient
           && params.synthesisRounds == 0 && prepared.levels > 0;
}

// Streams whose finest level can be written apart from the coarser levels
// (see FinestLevelStream), so that a fit rewrites that level alone.
bool splitsFinestLevel(const PreparedPicture& prepared, const EncoderParams& params)
{
    return finestLevelFits(prepared, params) && prepared.levels > 1 && params.contrastStretch == 0
           && writesComponentsApart(streamHeaderOf(prepared, params));
}

// Replans tried per stream written, and streams written, by fitFinestLevel.
constexpr int32_t kFinestReplans = 5;
constexpr int32_t kFinestWrites = 2;
// Finest-level writes where the level is written apart (each about half a
// whole write, far less than the whole trials that follow a miss).
constexpr int32_t kSplitWrites = 4;
// Replans before each such write, which is written where its prediction
// comes this close to the aim even if not inside the window: about as
// costly as a replan, it measures where a replan only predicts.
constexpr int32_t kSplitReplans = 2;
constexpr double kSplitNear = 0.02;
// Predictions aimed at stay this share inside the window: with its 1%
// width, those within a quarter per cent of its middle are written.
constexpr double kFinestMargin = 0.0025;

// Writes the finest level of the workspace's plan after the coarser levels
// in *parts (written first where null) into s->stream and counts the trial;
// *size receives the stream's size.
bool writeSplit(Search* s, EncodeWorkspace* workspace, FinestLevelStream** parts, int64_t* size)
{
    int32_t threads = planSettingsOf(s->trial).threads;
    if (!*parts)
        *parts = writeAllButFinestLevel(streamHeaderOf(s->prepared, s->trial), workspace->plan, threads);
    s->finestWrites++;
    if (!*parts || !writeFinestLevel(*parts, threads, &s->stream)) {
        if (s->error)
            *s->error = "out of memory";
        return false;
    }
    *size = static_cast<int64_t>(s->stream.size());
    EncodeStats stats;
    stats.clampedValues = workspace->plan.clampedValues;
    stats.levels = s->prepared.levels;
    s->take(s->trial.quantStep, *size, stats);
    return true;
}

// A replan's log cost and predicted log size, kept while it is the
// closest one on its side of the aim (over it where `over`).
struct Guess {
    double x;
    double y;
    bool over;

    void take(double atX, double atY, double aim)
    {
        if ((atY > aim) == over && (std::isnan(x) || std::fabs(atY - aim) < std::fabs(y - aim))) {
            x = atX;
            y = atY;
        }
    }
};

// Brings the last whole trial (its plan in the workspace, its stream
// `size` bytes, written or predicted) into the window by deciding its finest
// level again at another value cost: each replan's size is predicted from the
// plan's estimated bits, scaled as `size` is, and only a prediction inside
// the window is written. Where the finest level is written apart, its
// rewrites leave the coarser levels as first written, and their predictions
// take the coarser levels' real bits and the finest level's own real bits
// per estimated bit (before its first write, what `size` leaves it over the
// coarser levels' real bits). *bytesPerEstimate receives the last written stream's
// bytes per estimated byte (left as it is where none was written).
bool fitFinestLevel(Search* s, EncodeWorkspace* workspace, int64_t size, double* bytesPerEstimate)
{
    const PreparedPicture& prepared = s->prepared;
    PlanRates& rates = workspace->rates;
    if (rates.levelBits.empty())
        return true;
    const PlanSettings settings = planSettingsOf(s->trial);
    double aim = std::log(static_cast<double>(s->target) * (1.0 - kSizeTolerance / 2));
    double lowest = std::log(static_cast<double>(s->floorBytes) * (1.0 + kFinestMargin));
    double highest = std::log(static_cast<double>(s->target) * (1.0 - kFinestMargin));
    double cost = s->trial.valueCost > kMinValueCost ? s->trial.valueCost : kMinValueCost;
    // The finest level alone moves the size about a twentieth as fast as its cost.
    double slope = -0.05;
    bool split = splitsFinestLevel(prepared, s->trial);
    FinestLevelStream* parts = nullptr;
    if (split) {
        // The coarser levels stay as they are: written first, their real
        // bits take part in every prediction.
        parts = writeAllButFinestLevel(streamHeaderOf(prepared, s->trial), workspace->plan, settings.threads);
        if (!parts) {
            if (s->error)
                *s->error = "out of memory";
            return false;
        }
    }
    bool ok = true;
    // Split writes so far (log cost, log size): the closest ones over and
    // under the window, and the last.
    Point over{NAN, 0}, under{NAN, 0}, last{NAN, 0}, previous{NAN, 0};
    for (int32_t w = 0; w < (split ? kSplitWrites : kFinestWrites) && ok && !s->done(); w++) {
        if (!std::isnan(previous.x)) {
            // Two real sizes: the next cost interpolates them (the closest
            // on either side where the window lies between), which the
            // predictions of the estimated bits cannot match at low rates.
            const Point& a = !std::isnan(over.x) && !std::isnan(under.x) ? over : previous;
            const Point& b = !std::isnan(over.x) && !std::isnan(under.x) ? under : last;
            double ya = std::log(static_cast<double>(a.size)), yb = std::log(static_cast<double>(b.size));
            if (a.x == b.x || ya == yb)
                break;
            double k = (yb - ya) / (b.x - a.x);
            if (!(k < -0.01))
                break;
            double next = last.x + (aim - std::log(static_cast<double>(last.size))) / k;
            if (a.x != previous.x || b.x != last.x)
                next = a.x + (aim - ya) / k;
            next = std::fmin(std::fmax(next, std::log(kMinValueCost)), std::log(kMaxValueCost));
            s->lastIsBest = false;
            s->replans++;
            replanFinestLevel(prepared.planes, prepared.components, prepared.levels, settings, std::exp(next),
                              &rates, &workspace->plan);
            cost = std::exp(next);
        } else {
            // The size predicted for the finest level's estimated bits f:
            // fixed + perBit * f. The written stream's bytes per estimated bit
            // hold for small changes.
            double coarser = 0.0;
            for (size_t L = 1; L < rates.levelBits.size(); L++)
                coarser += rates.levelBits[L];
            double estimated = coarser + rates.levelBits[0];
            if (!(estimated > 0.0) || size <= 0)
                break;
            double perBit = static_cast<double>(size) / estimated;
            double fixed = perBit * coarser;
            if (parts) {
                fixed = static_cast<double>(bitsBeforeFinestLevel(parts)) / 8.0;
                if (detailBits(parts, 0) > 0 && rates.levelBits[0] > 0.0)
                    perBit = static_cast<double>(detailBits(parts, 0)) / 8.0 / rates.levelBits[0];
                else if (static_cast<double>(size) > fixed && rates.levelBits[0] > 0.0)
                    perBit = (static_cast<double>(size) - fixed) / rates.levelBits[0];
            }
            double x = std::log(cost), y = std::log(fixed + perBit * rates.levelBits[0]);
            // A predicted size may already be inside; a written one is not.
            // A split stream's first write only needs to come near: until
            // its finest level is written, the prediction is too rough for
            // replans to sharpen.
            bool inside = w == 0 && (split ? std::fabs(y - aim) < kSplitNear : y >= lowest && y <= highest);
            // The closest predictions over and under the aim: once the aim
            // lies between two, the next cost interpolates them (the size
            // bends with the cost, so the slope alone overshoots) and one
            // more replan is allowed.
            Guess above{NAN, 0.0, true}, below{NAN, 0.0, false};
            above.take(x, y, aim);
            below.take(x, y, aim);
            int32_t replans = split ? kSplitReplans : kFinestReplans;
            for (int32_t t = 0; t < replans + (std::isnan(above.x) || std::isnan(below.x) ? 0 : 1) && !inside; t++) {
                double next = x + (aim - y) / slope;
                if (!std::isnan(above.x) && !std::isnan(below.x) && above.y != below.y)
                    next = above.x + (aim - above.y) * (below.x - above.x) / (below.y - above.y);
                next = std::fmin(std::fmax(next, std::log(kMinValueCost)), std::log(kMaxValueCost));
                if (next == x)
                    break;
                s->lastIsBest = false; // the plan is no longer the stream's
                s->replans++;
                replanFinestLevel(prepared.planes, prepared.components, prepared.levels, settings, std::exp(next),
                                  &rates, &workspace->plan);
                double predicted = std::log(fixed + perBit * rates.levelBits[0]);
                if (predicted != y) {
                    double measured = (predicted - y) / (next - x);
                    if (measured < -0.01 && measured > -5.0)
                        slope = measured;
                }
                x = next;
                y = predicted;
                cost = std::exp(x);
                above.take(x, y, aim);
                below.take(x, y, aim);
                inside = y >= lowest && y <= highest;
            }
            if (!inside && !(split && std::fabs(y - aim) < kSplitNear))
                break;
        }
        if (split) {
            ok = writeSplit(s, workspace, &parts, &size);
            previous = last;
            last = {std::log(cost), size};
            if (size > s->target && (std::isnan(over.x) || size < over.size))
                over = last;
            if (size < s->floorBytes && (std::isnan(under.x) || size > under.size))
                under = last;
        } else {
            workspace->reusePlan = true;
            ok = s->run(s->trial.quantStep, s->trial.valueCost, &size);
            workspace->reusePlan = false;
        }
        double planned = estimatedBytes(rates);
        if (ok && planned > 0.0)
            *bytesPerEstimate = static_cast<double>(size) / planned;
    }
    releaseFinestLevelStream(parts);
    return ok;
}

} // namespace

bool encodePictureToSize(const PreparedPicture& prepared, const EncoderParams& params,
                         int64_t maxBytes, std::vector<uint8_t>* out, int32_t* step, EncodeStats* stats,
                         std::string* error, SizeSearchReport* report, EncodeWorkspace* kept)
{
    EncodeWorkspace own;
    EncodeWorkspace& workspace = kept ? *kept : own;
    SampleSearch sample;
    double share;
    {
        TileSample tiles;
        bool codesEveryCoefficient = params.decodeMode == 1 && params.mapCoder == 1 && params.valueCoder != 0;
        bool sampling = params.mapCoder != 3 && !codesEveryCoefficient
                        && takeTileSample(prepared, &tiles, encoderThreads(params.threads));
        if (params.samplesRead)
            params.samplesRead(params.progressContext);
        if (!sampling)
            return searchExactly(prepared, params, maxBytes, &workspace, out, step, stats, error, report);
        sample.prepared = std::move(tiles.prepared);
        share = tiles.share;
    }
    sample.params = params;
    sample.estimated = finestLevelFits(sample.prepared, params);
    sample.wholeFeedback = static_cast<int64_t>(prepared.height) * prepared.width <= kColourFeedbackMaxSamples;
    sample.params.searchProgress = nullptr; // the sample's sizes mean nothing to the caller
    sample.params.samplesRead = nullptr;
    sample.knob.cost0 = params.valueCost > kMinValueCost ? params.valueCost : kMinValueCost;
    int32_t first = stepForRate(prepared, maxBytes);

    // The sample, scaled by area, says where to try the whole picture; each
    // whole trial then measures the sample's scale there (whole bytes per
    // sample byte, which content and the coders' adaptation move away from
    // the area's share), and the sample, searched again for the target over
    // that scale, says where to try next.
    double aim = static_cast<double>(maxBytes) * (1.0 - kSizeTolerance / 2);
    double x0 = std::log(static_cast<double>(first));
    SampleTrial at;
    // Where only the sample's plans are weighed, they aim at the estimated
    // bytes that write the aim: at a typical ratio first, then at the one
    // the sample's stream there foretells.
    double bytesPerEstimate = sample.estimated ? kTypicalBytesPerEstimate : 1.0;
    if (!searchSampleFor(&sample, aim * share / bytesPerEstimate,
                         {x0, sample.knob.step(x0), sample.knob.cost(x0), 0}, &at, error))
        return false;
    if (sample.estimated) {
        double guessed = bytesPerEstimate;
        if (!sampleBytesPerEstimate(&sample, at, &bytesPerEstimate, error))
            return false;
        SampleTrial next, restart = at;
        if (std::fabs(std::log(bytesPerEstimate / guessed)) > kFittedSampleMargin) {
            // Along the knob again, so that of two neighbouring steps the
            // finer one is taken, as by the first search.
            restart.size = 0;
            if (!searchSampleFor(&sample, aim * share / bytesPerEstimate, restart, &next, error))
                return false;
            at = next;
        }
        // Its memory goes before the whole picture's plans take theirs.
        sample.workspace = EncodeWorkspace();
    } else {
        bytesPerEstimate = NAN;
    }
    Search s(prepared, params, maxBytes, error, &workspace);
    // The bytes per estimated byte (foretold by the sample's, then those of
    // the last whole stream written) predict the size of a whole trial's
    // plan: one predicted within the finest level's reach is left to it
    // where it writes the finest level apart, and otherwise a plan is
    // written only where its prediction lands in the window.
    bool mustWrite = false;
    double lastSample = NAN, lastWhole = NAN; // logs of the previous whole trial's sizes
    bool splits = splitsFinestLevel(prepared, params);
    for (int32_t t = 0; t < kWholeTrials; t++) {
        int64_t size;
        bool written = true;
        double estimated = 0.0;
        if (!std::isnan(bytesPerEstimate)) {
            // The workspace's plan is then this trial's, for the finest level's fit.
            s.trial = s.trialAt(at.step, at.cost);
            s.lastIsBest = false;
            estimated = planOnly(prepared, s.trial, &workspace);
            s.plans++;
        }
        double predicted = estimated * bytesPerEstimate;
        bool reached = estimated > 0.0 && splits && std::fabs(std::log(predicted / aim)) < kFinestReach;
        if (estimated > 0.0 && !mustWrite && t + 1 < kWholeTrials
            && (reached || predicted > static_cast<double>(maxBytes)
                || predicted < static_cast<double>(s.floorBytes))) {
            written = false;
            size = std::llround(predicted);
        } else {
            workspace.reusePlan = estimated > 0.0;
            bool ok = s.run(at.step, at.cost, &size);
            workspace.reusePlan = false;
            if (!ok)
                return false;
            double planned = estimatedBytes(workspace.rates);
            if (planned > 0.0)
                bytesPerEstimate = static_cast<double>(size) / planned;
        }
        // Close misses, written or predicted, are left to the finest level.
        bool close = size > 0 && std::fabs(std::log(static_cast<double>(size) / aim)) < kFinestReach;
        if (close && !s.done() && finestLevelFits(prepared, params)) {
            double fitted = NAN;
            if (!fitFinestLevel(&s, &workspace, size, &fitted))
                return false;
            if (!std::isnan(fitted)) {
                // The trial's size as the stream written foretells it.
                bytesPerEstimate = fitted;
                if (!written)
                    size = std::llround(estimated * fitted);
                written = true;
            }
        }
        if (s.done() || size <= 0 || at.size <= 0)
            break;
        // The sample's size that should give the aim: by the scale measured
        // here, or where two trials measured it, by how it drifts with size.
        double sampleLog = std::log(static_cast<double>(at.size));
        double wholeLog = std::log(static_cast<double>(size));
        double drift = 1.0;
        if (!std::isnan(lastSample) && std::fabs(sampleLog - lastSample) > 1e-4) {
            double measured = (wholeLog - lastWhole) / (sampleLog - lastSample);
            if (measured > 0.5 && measured < 2.0)
                drift = measured;
        }
        lastSample = sampleLog;
        lastWhole = wholeLog;
        SampleTrial next;
        if (!searchSampleFor(&sample, std::exp(sampleLog + (std::log(aim) - wholeLog) / drift), at, &next, error))
            return false;
        if (next.step == at.step && next.cost == at.cost) {
            if (written)
                break;
            mustWrite = true;
        }
        at = next;
    }
    if (!s.done()) {
        // Where the knob stalls (gaps in what the format can say), the exact search.
        EncoderParams start = params;
        start.quantStep = s.bestSize >= 0 ? s.bestParams.quantStep : at.step;
        SizeSearchReport exact;
        std::vector<uint8_t> stream;
        int32_t exactStep;
        EncodeStats exactStats;
        bool found = searchExactly(prepared, start, maxBytes, &workspace, &stream, &exactStep, &exactStats, error,
                                   &exact);
        if (!found && s.bestSize < 0)
            return false;
        s.encodes += exact.encodes;
        s.plans += exact.plans;
        s.writes += exact.writes;
        // The exact search planned last: its plan is the chosen one's if its stream is.
        bool taken = found && static_cast<int64_t>(stream.size()) > s.bestSize;
        s.lastIsBest = taken && exact.planKept;
        if (taken) {
            s.best.swap(stream);
            s.bestSize = static_cast<int64_t>(s.best.size());
            s.bestParams = start;
            s.bestParams.quantStep = exact.step;
            s.bestParams.valueCost = exact.valueCost;
            s.bestStats = exactStats;
            s.cut = exact.cut;
        }
    }
    if (s.bestSize < 0) {
        if (error)
            *error = "cannot reach " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    s.handOver(out, step, stats, report);
    if (report)
        report->sampleEncodes = sample.encodes;
    return true;
}

#include "codec/encoder/step_search.h"

#include <cmath>
#include <functional>

namespace {

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
    int64_t bestSize = -1;
    EncoderParams bestParams;
    EncodeStats bestStats;
    int32_t encodes = 0;

    Search(const PreparedPicture& picture, const EncoderParams& params, int64_t maxBytes, std::string* message)
        : prepared(picture), trial(params), target(maxBytes),
          floorBytes(static_cast<int64_t>(std::ceil(static_cast<double>(maxBytes) * (1.0 - kSizeTolerance)))),
          error(message)
    {
    }

    bool run(int32_t q, double cost, int64_t* size)
    {
        trial.quantStep = q;
        trial.valueCost = cost;
        EncodeStats stats;
        if (!encodePrepared(prepared, trial, &stream, &stats, error))
            return false;
        encodes++;
        *size = static_cast<int64_t>(stream.size());
        if (trial.searchProgress)
            trial.searchProgress(trial.progressContext, q, *size);
        if (*size <= target && *size > bestSize) {
            best.swap(stream);
            bestSize = *size;
            bestParams = trial;
            bestStats = stats;
        }
        return true;
    }

    bool done() const { return bestSize >= floorBytes; }

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

bool encodeToSize(const PreparedPicture& prepared, const EncoderParams& params, int64_t maxBytes,
                  std::vector<uint8_t>* out, int32_t* step, EncodeStats* stats, std::string* error,
                  SizeSearchReport* report)
{
    Search s(prepared, params, maxBytes, error);
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
    if (!s.done() && !std::isnan(low.x)) {
        int32_t finer = static_cast<int32_t>(std::lround(std::exp(low.x)));
        Point cl, ch;
        if (!s.falling(costAt(finer), snapCost, costsApart, nextCost, {x0, low.size}, x0, std::log(kMaxValueCost),
                       -0.1, 12, &cl, &ch))
            return false;
    }
    if (!s.done() && !std::isnan(high.x)) {
        int32_t coarser = static_cast<int32_t>(std::lround(std::exp(high.x)));
        Point cl, ch;
        if (!s.falling(costAt(coarser), snapCost, costsApart, nextCost, {x0, high.size}, std::log(kMinValueCost), x0,
                       -0.1, 12, &cl, &ch))
            return false;
    }

    *step = s.bestParams.quantStep;
    if (stats)
        *stats = s.bestStats;
    if (report) {
        report->step = s.bestParams.quantStep;
        report->valueCost = s.bestParams.valueCost;
        report->encodes = s.encodes;
    }
    out->swap(s.best);
    return true;
}

#include "codec/encoder/significance_planner.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "codec/core/geometry.h"
#include "codec/encoder/band_rates.h"
#include "codec/encoder/curve_order.h"
#include "codec/encoder/large_arrays.h"
#include "codec/encoder/parallel_tasks.h"
#include "codec/encoder/quantiser.h"
#include "codec/onepass/significance_marking.h"

int32_t maxMagnitudeIndex(int32_t decodeMode, int32_t valueCoder, int32_t quantStep,
                          int32_t fineSteps)
{
    if (decodeMode == 1 && valueCoder == 0)
        return 32003; // 2 J + 2 must stay within the context model's largest value
    int32_t q = quantStep > 0 ? quantStep : 1;
    // Keep every reconstruction (boost included) far inside 32 bits.
    int32_t fine = fineSteps > 0 ? (fineSteps < q ? fineSteps + 1 : q) : 1;
    return (1 << 28) / q + fine;
}

Dequantiser planDequantiser(const PlanSettings& settings, int32_t L)
{
    int32_t kAlways = settings.decodeMode == 0 && settings.valueCoder == 2;
    return encoderDequantiser(settings.quantStep, settings.fineSteps, settings.magnitudeBoost, L, kAlways);
}

namespace {

// Marks a position of the finest level that was left out while it is planned again.
constexpr int32_t kLeftOut = -2;

// Squared error worth one bit, as a share of the cost of one coded value.
constexpr double kBitsPerValueCost = 0.3;

// While a component is weighed, its index array holds a float per position
// (tree gains, sums of child gains) until the top-down pass writes the
// indexes: the planner needs no array of its own.
float gainAt(const int32_t* slots, size_t p)
{
    float g;
    std::memcpy(&g, slots + p, sizeof g);
    return g;
}

void setGain(int32_t* slots, size_t p, float g)
{
    std::memcpy(slots + p, &g, sizeof g);
}

struct Planner {
    const CoefficientPlane* planes;
    int32_t components;
    int32_t levels;
    int32_t height;
    int32_t width;
    PlanSettings settings;
    std::vector<double> weights;
    uint8_t** rowCodes = nullptr;
    uint8_t** colCodes = nullptr;
    double cost = 0.0;
    double lambda = 0.0;   // squared error worth one bit
    int32_t maxJ = 0;
    int64_t clamped[3] = {0, 0, 0}; // per component: tasks of several threads count them

    Dequantiser dequantiser(int32_t L) const { return planDequantiser(settings, L); }

    // Factor from a plane value to the detail value the decoder's kernels take.
    static double valueScale(int32_t c, int32_t L, int32_t b)
    {
        double v = detailScale(L, b);
        return c > 0 ? 0.5 * v : v;
    }

    double value(int32_t c, int32_t L, int32_t b, int32_t r, int32_t col) const
    {
        return planes[c].row(r)[col] * valueScale(c, L, b);
    }

    double weight(int32_t c, int32_t L, int32_t b) const
    {
        return weights[static_cast<size_t>(L) * 3 + b] * componentErrorWeight(c, components);
    }

    // Gain of coding a value with index at least minJ instead of leaving it out.
    double gain(const Dequantiser& d, double v, double w, int32_t minJ, int32_t* J) const
    {
        double m = std::fabs(v);
        double error;
        *J = chooseMagnitudeIndex(d, m, minJ, maxJ, &error);
        return w * (m * m - error) - cost;
    }

    // Gain of coding v against leaving it out, both priced in bits.
    double ratedGain(const Dequantiser& d, double v, double w, const BandRates& band, int32_t* J) const
    {
        double m = std::fabs(v);
        double cost;
        *J = chooseRatedIndex(d, m, w, lambda, band, maxJ, &cost);
        return w * m * m - cost;
    }

    void record(int32_t c, ComponentPlan* plan, size_t p, const Dequantiser& d, double v, int32_t J)
    {
        plan->index[p] = J;
        plan->negative[p] = v < 0;
        if (J == maxJ && std::fabs(v) > dequantiseMagnitude(&d, J) + d.quantStep)
            clamped[c]++;
    }

    void planOnePass(int32_t c, ComponentPlan* plan);
    void planProgressive(PicturePlan* plan, const RateModel* rates, const ContextRateModel* contextRates,
                         CountModel* counted, ContextCountModel* contextCounted);
    bool planLevelTopDown(PicturePlan* plan, int32_t c, int32_t L, bool codeAll, bool levelGains,
                          const RateModel* rates, const ContextRateModel* contextRates, CountModel* counted,
                          ContextCountModel* contextCounted, bool decideHere = false);
    void replanFinest(PicturePlan* plan, const PlanRates& rates, CountModel* counted);
    void markKnownZero(int32_t* index, int32_t L) const;
};

// One-pass: a position is coded explicitly (index at least 1, or 0 for value
// coder 3) or as the ancestor of a coded position (index at least 0); coding
// any position codes all its ancestors.
void Planner::planOnePass(int32_t c, ComponentPlan* plan)
{
    // The choices are the map codes: 1 not coded, 2 explicit, 4 ancestor.
    enum : uint8_t { NONE = 1, EXPLICIT = 2, ANCESTOR = 4 };
    // Sums of the children's gains live in the index array (see gainAt).
    int32_t* childSum = plan->index.data();
    uint8_t* choice = plan->mapCode.data();
    std::fill(plan->index.begin(), plan->index.end(), 0);
    int32_t minExplicit = settings.valueCoder == 3 ? 0 : 1;

    for (int32_t L = 0; L < levels; L++) {
        Dequantiser d = dequantiser(L);
        for (int32_t b = 0; b < 3; b++) {
            BandRect rect = bandRect(height, width, L, b);
            double w = weight(c, L, b);
            for (int32_t r = rect.rowStart; r < rect.rowEnd; r++) {
                for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
                    size_t p = static_cast<size_t>(r) * width + col;
                    double v = value(c, L, b, r, col);
                    int32_t J;
                    double best = 0.0;
                    uint8_t ch = NONE;
                    double g = gain(d, v, w, minExplicit, &J);
                    if (g > best) {
                        best = g;
                        ch = EXPLICIT;
                    }
                    float sum = gainAt(childSum, p);
                    if (sum > 0.0f) {
                        g = gain(d, v, w, 0, &J) + sum;
                        if (g > best) {
                            best = g;
                            ch = ANCESTOR;
                        }
                    }
                    choice[p] = ch;
                    if (best > 0.0 && L + 1 < levels) {
                        int32_t pr = parentCoordinate(r, rowCodes[b][L], rect.rowEnd);
                        int32_t pc = parentCoordinate(col, colCodes[b][L], rect.colEnd);
                        size_t parent = static_cast<size_t>(pr) * width + pc;
                        setGain(childSum, parent, gainAt(childSum, parent) + static_cast<float>(best));
                    }
                }
            }
        }
    }

    plan->mapLevel = levels;
    for (int32_t L = levels - 1; L >= 0; L--) {
        Dequantiser d = dequantiser(L);
        for (int32_t b = 0; b < 3; b++) {
            BandRect rect = bandRect(height, width, L, b);
            for (int32_t r = rect.rowStart; r < rect.rowEnd; r++) {
                for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
                    size_t p = static_cast<size_t>(r) * width + col;
                    if (L + 1 < levels) {
                        int32_t pr = parentCoordinate(r, rowCodes[b][L], rect.rowEnd);
                        int32_t pc = parentCoordinate(col, colCodes[b][L], rect.colEnd);
                        if (choice[static_cast<size_t>(pr) * width + pc] != ANCESTOR)
                            choice[p] = NONE;
                    }
                    if (choice[p] == NONE) {
                        plan->index[p] = -1;
                        continue;
                    }
                    double v = value(c, L, b, r, col);
                    int32_t J;
                    gain(d, v, 0.0, choice[p] == EXPLICIT ? minExplicit : 0, &J);
                    record(c, plan, p, d, v, J);
                    plan->mapLevel = L;
                }
            }
        }
    }
    int32_t R = levelSize(height, levels);
    int32_t C = levelSize(width, levels);
    for (int32_t r = 0; r < R; r++)
        std::fill_n(plan->index.begin() + static_cast<ptrdiff_t>(r) * width, C, -1);
}

// Level-progressive: a position left out makes its children known zero when
// its level carries detail; map coder 1 with value coders 1 to 3 codes every
// position that is not known zero. Without rates every coded value costs the
// fixed cost and leaving a position out costs nothing; with rates the
// decisions and the indexes weigh the bits the coders spend on each band (a
// tested position left out included) at `lambda` per bit, with
// `contextRates` in the context each position's `negative` entry names.
// `counted` receives the symbols of the plan; `contextCounted` receives them
// by context and leaves each position's context in `negative` (for the
// planning that follows: the signs are not kept).
void Planner::planProgressive(PicturePlan* plan, const RateModel* rates, const ContextRateModel* contextRates,
                              CountModel* counted, ContextCountModel* contextCounted)
{
    bool codeAll = settings.mapCoder == 1 && settings.valueCoder != 0;
    // Bottom-up, each band's trees of each component on their own: how much
    // more every position's tree gains coded than left out where it does,
    // else 0, in the index array (see gainAt). The gains of each band and
    // level are summed in a fixed order whatever thread runs them.
    std::vector<double> bandGain(static_cast<size_t>(components) * 3 * levels, 0.0);
    runTasks(settings.threads, static_cast<size_t>(components) * 3, [&](size_t task) {
        int32_t c = static_cast<int32_t>(task / 3);
        int32_t b = static_cast<int32_t>(task % 3);
        int32_t* best = plan->component[c].index.data();
        const uint8_t* context = plan->component[c].negative.data();
        for (int32_t L = 0; L < levels; L++) {
            Dequantiser d = dequantiser(L);
            double gainSum = 0.0;
            BandRect rect = bandRect(height, width, L, b);
            double w = weight(c, L, b);
            double scale = valueScale(c, L, b);
            const BandRates* band = rates ? &rates->band(c, L, b) : nullptr;
            const ContextRates* around = contextRates ? &contextRates->band(c, L, b) : nullptr;
            const ContextRates* childAround = around && L > 0 ? &contextRates->band(c, L - 1, b) : nullptr;
            double childLeaveOut = band && L > 0 ? -lambda * rates->band(c, L - 1, b).zeroBits : 0.0;
            for (int32_t r = rect.rowStart; r < rect.rowEnd; r++) {
                int32_t rowFirst = 0, rowCount = 0;
                if (L > 0)
                    childSpan(rowCodes[b][L - 1], r, r == rect.rowEnd - 1, &rowFirst, &rowCount);
                const float* source = planes[c].row(r);
                for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
                    int32_t J;
                    double v = source[col] * scale;
                    size_t p = static_cast<size_t>(r) * width + col;
                    const BandRates* here = around ? &around->after[context[p]] : band;
                    double leaveOut = here ? -lambda * here->zeroBits : 0.0;
                    double g = here ? ratedGain(d, v, w, *here, &J) : gain(d, v, w, 0, &J);
                    gainSum += g;
                    if (L > 0) {
                        int32_t colFirst, colCount;
                        childSpan(colCodes[b][L - 1], col, col == rect.colEnd - 1, &colFirst, &colCount);
                        for (int32_t i = 0; i < rowCount; i++)
                            for (int32_t j = 0; j < colCount; j++) {
                                size_t child = static_cast<size_t>(rowFirst + i) * width + colFirst + j;
                                g += gainAt(best, child)
                                     + (childAround ? -lambda * childAround->after[context[child]].zeroBits
                                                    : childLeaveOut);
                            }
                    }
                    double excess = g - leaveOut;
                    float kept = static_cast<float>(excess);
                    // A tree that gains at all stays marked as gaining.
                    if (excess > 0.0 && !(kept > 0.0f))
                        kept = std::numeric_limits<float>::denorm_min();
                    setGain(best, p, excess > 0.0 ? kept : 0.0f);
                }
            }
            bandGain[(static_cast<size_t>(c) * 3 + b) * levels + L] = gainSum;
        }
    });
    std::vector<double> levelGain(levels, 0.0);
    for (int32_t c = 0; c < components; c++)
        for (int32_t L = 0; L < levels; L++)
            for (int32_t b = 0; b < 3; b++)
                levelGain[L] += bandGain[(static_cast<size_t>(c) * 3 + b) * levels + L];

    // Top-down, level by level, each component on its own: a position is
    // coded where its tree gains and it is not known zero; -1 (not a positive
    // gain) marks the children of positions left out.
    std::vector<uint8_t> anyOf(static_cast<size_t>(components), 0);
    for (int32_t L = levels - 1; L >= 0; L--) {
        runTasks(settings.threads, static_cast<size_t>(components), [&](size_t task) {
            int32_t c = static_cast<int32_t>(task);
            if (L + 1 < levels && plan->levelHasDetail[L + 1])
                markKnownZero(plan->component[c].index.data(), L + 1);
            anyOf[c] = planLevelTopDown(plan, c, L, codeAll, levelGain[L] > 0.0, rates, contextRates, counted,
                                        contextCounted);
        });
        bool any = false;
        for (uint8_t a : anyOf)
            any |= a != 0;
        plan->levelHasDetail[L] = any;
    }
}

// Children of every position of level L left out are known zero (level L
// carries detail).
void Planner::markKnownZero(int32_t* index, int32_t L) const
{
    for (int32_t b = 0; b < 3; b++) {
        BandRect rect = bandRect(height, width, L, b);
        for (int32_t r = rect.rowStart; r < rect.rowEnd; r++) {
            int32_t rowFirst, rowCount;
            childSpan(rowCodes[b][L - 1], r, r == rect.rowEnd - 1, &rowFirst, &rowCount);
            for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
                if (index[static_cast<size_t>(r) * width + col] >= 0)
                    continue;
                int32_t colFirst, colCount;
                childSpan(colCodes[b][L - 1], col, col == rect.colEnd - 1, &colFirst, &colCount);
                for (int32_t i = 0; i < rowCount; i++)
                    for (int32_t j = 0; j < colCount; j++)
                        index[static_cast<size_t>(rowFirst + i) * width + colFirst + j] = -1;
            }
        }
    }
}

// The finest level again, each component on its own: the positions its
// coarser level leaves testable are weighed with the plan's rates.
void Planner::replanFinest(PicturePlan* plan, const PlanRates& rates, CountModel* counted)
{
    std::vector<uint8_t> anyOf(static_cast<size_t>(components), 0);
    runTasks(settings.threads, static_cast<size_t>(components), [&](size_t task) {
        int32_t c = static_cast<int32_t>(task);
        int32_t* index = plan->component[c].index.data();
        // Positions left out become kLeftOut, so that only the known zero
        // ones read -1 once they are marked.
        for (int32_t b = 0; b < 3; b++) {
            BandRect rect = bandRect(height, width, 0, b);
            for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
                for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
                    int32_t& J = index[static_cast<size_t>(r) * width + col];
                    J = J < 0 ? kLeftOut : J;
                }
        }
        if (levels > 1 && plan->levelHasDetail[1])
            markKnownZero(index, 1);
        anyOf[c] = planLevelTopDown(plan, c, 0, false, false, &rates.bands,
                                    rates.inContext ? &rates.contexts : nullptr, counted, nullptr, true);
    });
    bool any = false;
    for (uint8_t a : anyOf)
        any |= a != 0;
    plan->levelHasDetail[0] = any;
}

// The top-down pass over level L of component c (codeAll: every position not
// known zero is coded where the level gains; decideHere: level L has no
// children, each position not known zero is weighed here rather than by the
// bottom-up pass); whether it codes any position.
bool Planner::planLevelTopDown(PicturePlan* plan, int32_t c, int32_t L, bool codeAll, bool levelGains,
                               const RateModel* rates,
                               const ContextRateModel* contextRates, CountModel* counted,
                               ContextCountModel* contextCounted, bool decideHere)
{
    Dequantiser d = dequantiser(L);
    bool any = false;
    int32_t* index = plan->component[c].index.data();
    uint8_t* context = plan->component[c].negative.data();
    // The symbol class before the position in the coder's scan (the
    // context model runs over the three bands of a level).
    uint8_t previous = 0;
    // decideHere: the symbol class before the position in the plan as it
    // stood, whose contexts the rates were measured in (the new decisions'
    // own would feed back on themselves).
    uint8_t before = 0;
    for (int32_t b = 0; b < 3; b++) {
        double w = weight(c, L, b);
        double scale = valueScale(c, L, b);
        const BandRates* band = rates ? &rates->band(c, L, b) : nullptr;
        const ContextRates* around = contextRates ? &contextRates->band(c, L, b) : nullptr;
        BandCounts* tally = counted ? &counted->band(c, L, b) : nullptr;
        ContextCounts* contextTally = contextCounted ? &contextCounted->band(c, L, b) : nullptr;
        auto visit = [&](int32_t r, int32_t col) {
            size_t p = static_cast<size_t>(r) * width + col;
            bool tested = index[p] != -1;
            bool coded = codeAll ? levelGains : gainAt(index, p) > 0.0f;
            int32_t J = -1;
            if (decideHere) {
                // No children: the position's own gain against leaving it out.
                coded = false;
                if (tested) {
                    double v = planes[c].row(r)[col] * scale;
                    const BandRates* here = around ? &around->after[before] : band;
                    before = static_cast<uint8_t>(rateContext(index[p] == kLeftOut ? -1 : index[p]));
                    coded = ratedGain(d, v, w, *here, &J) + lambda * here->zeroBits > 0.0;
                }
            }
            if (coded) {
                double v = planes[c].row(r)[col] * scale;
                const BandRates* here = around ? &around->after[previous] : band;
                if (!decideHere) {
                    if (here)
                        ratedGain(d, v, w, *here, &J);
                    else
                        gain(d, v, 0.0, 0, &J);
                }
                record(c, &plan->component[c], p, d, v, J);
                any = true;
            } else {
                J = -1;
                index[p] = -1;
                context[p] = 0;
            }
            BandCounts* n = tally;
            if (contextTally) {
                context[p] = previous;
                n = &contextTally->after[previous];
            }
            if (tested) {
                if (n) {
                    if (J < 0)
                        n->zeros++;
                    else
                        n->index[J < kRatedIndexes ? J : kRatedIndexes - 1]++;
                }
                previous = static_cast<uint8_t>(rateContext(J));
            }
        };
        BandRect rect = bandRect(height, width, L, b);
        if (settings.mapCoder == 1) {
            walkCurve(0, rect.rowStart, rect.rowEnd, rect.colStart, rect.colEnd, visit);
        } else {
            for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
                for (int32_t col = rect.colStart; col < rect.colEnd; col++)
                    visit(r, col);
        }
    }
    return any;
}

// The planner for these settings, its costs from valueCost.
bool setUpPlanner(Planner* planner, const CoefficientPlane* planes, int32_t components, int32_t levels,
                  const PlanSettings& settings, double valueCost)
{
    planner->planes = planes;
    planner->components = components;
    planner->levels = levels;
    planner->height = planes[0].height;
    planner->width = planes[0].width;
    planner->settings = settings;
    detailErrorWeights(levels, &planner->weights);
    Dequantiser d0 = planner->dequantiser(0);
    double step = d0.fine && settings.fineSteps > 0 ? d0.fineStep : d0.quantStep;
    planner->cost = valueCost * step * step * planner->weights[0];
    planner->lambda = kBitsPerValueCost * planner->cost;
    planner->maxJ = maxMagnitudeIndex(settings.decodeMode, settings.valueCoder, settings.quantStep,
                                      settings.fineSteps);
    return makeBandParityTables(&planner->rowCodes, &planner->colCodes, planner->height, planner->width, levels);
}

void tearDownPlanner(Planner* planner)
{
    freeBandParityTables(planner->rowCodes, planner->colCodes);
}

// Bits of level L's symbols at the frequencies they occur with.
double estimatedLevelBits(const CountModel& counts, int32_t L)
{
    RateModel rates;
    estimateRates(counts, &rates);
    double bits = 0.0;
    int32_t components = counts.levels > 0 ? static_cast<int32_t>(counts.bands.size()) / (3 * counts.levels) : 0;
    for (int32_t c = 0; c < components; c++)
        for (int32_t b = 0; b < 3; b++) {
            const BandCounts& n = counts.band(c, L, b);
            const BandRates& r = rates.band(c, L, b);
            bits += n.zeros * r.zeroBits;
            for (int32_t J = 0; J < kRatedIndexes; J++)
                bits += n.index[J] * r.indexBits[J];
        }
    return bits;
}

} // namespace

void planPicture(const CoefficientPlane* planes, int32_t components, int32_t levels,
                 const PlanSettings& settings, PicturePlan* plan, PlanRates* rates)
{
    int32_t height = planes[0].height;
    int32_t width = planes[0].width;
    plan->height = height;
    plan->width = width;
    plan->components = components;
    plan->levels = levels;
    plan->levelHasDetail.assign(static_cast<size_t>(levels > 0 ? levels : 0), 0);
    plan->clampedValues = 0;
    if (rates)
        *rates = PlanRates();

    int32_t R = levelSize(height, levels);
    int32_t C = levelSize(width, levels);
    double scale = 32.0 * std::ldexp(1.0, levels);
    size_t n = static_cast<size_t>(height) * width;
    for (int32_t c = 0; c < components; c++) {
        ComponentPlan& cp = plan->component[c];
        cp.lowest.resize(static_cast<size_t>(R) * C);
        for (int32_t r = 0; r < R; r++)
            for (int32_t col = 0; col < C; col++)
                cp.lowest[static_cast<size_t>(r) * C + col]
                    = quantiseLowest(scale * planes[c].row(r)[col], settings.quantStep, c);
        if (settings.decodeMode != 0)
            cp.mapCode.clear();
        cp.mapLevel = levels;
    }
    // The arrays' first touch (the system zeroing their pages) is most of a
    // fill's time: spread over the threads, the largest first.
    runTasks(settings.threads, static_cast<size_t>(components) * 3, [&](size_t task) {
        ComponentPlan& cp = plan->component[task % static_cast<size_t>(components)];
        size_t kind = task / static_cast<size_t>(components);
        if (kind == 0)
            fillLargeArray(&cp.index, n, -1);
        else if (kind == 1)
            fillLargeArray(&cp.negative, n, uint8_t(0));
        else if (settings.decodeMode == 0)
            fillLargeArray(&cp.mapCode, n, uint8_t(1));
    });
    if (levels <= 0 || settings.mapCoder == 3)
        return;

    Planner planner;
    if (!setUpPlanner(&planner, planes, components, levels, settings, settings.valueCost))
        return;
    if (settings.decodeMode == 0) {
        runTasks(settings.threads, static_cast<size_t>(components), [&](size_t c) {
            planner.planOnePass(static_cast<int32_t>(c), &plan->component[c]);
        });
    } else {
        // The adaptive value coders spend about what the symbol frequencies
        // say; the unary and fixed-width ones keep the fixed cost.
        bool adaptive = settings.valueCoder == 0 || settings.valueCoder == 1;
        CountModel counts;
        counts.reset(components, levels);
        // Value coder 0 codes each symbol in the context of the one before it.
        bool contexts = settings.valueCoder == 0;
        ContextCountModel contextCounts;
        contextCounts.reset(components, contexts ? levels : 0);
        planner.planProgressive(plan, nullptr, nullptr, adaptive && !contexts ? &counts : nullptr,
                                contexts ? &contextCounts : nullptr);
        PlanRates own;
        PlanRates& learnt = rates ? *rates : own;
        learnt.inContext = contexts;
        if (adaptive) {
            if (contexts)
                estimateContextRates(contextCounts, &learnt.bands, &learnt.contexts);
            else
                estimateRates(counts, &learnt.bands);
            CountModel planned;
            planned.reset(components, rates ? levels : 0);
            planner.planProgressive(plan, &learnt.bands, contexts ? &learnt.contexts : nullptr,
                                    rates ? &planned : nullptr, nullptr);
            if (rates) {
                learnt.levelBits.resize(static_cast<size_t>(levels));
                for (int32_t L = 0; L < levels; L++)
                    learnt.levelBits[L] = estimatedLevelBits(planned, L);
            }
        }
    }
    tearDownPlanner(&planner);
    plan->clampedValues = planner.clamped[0] + planner.clamped[1] + planner.clamped[2];
}

void replanFinestLevel(const CoefficientPlane* planes, int32_t components, int32_t levels,
                       const PlanSettings& settings, double finestCost, PlanRates* rates, PicturePlan* plan)
{
    bool codeAll = settings.mapCoder == 1 && settings.valueCoder != 0;
    if (levels <= 0 || settings.decodeMode != 1 || codeAll || rates->bands.bands.empty())
        return;
    Planner planner;
    if (!setUpPlanner(&planner, planes, components, levels, settings, finestCost))
        return;
    CountModel planned;
    planned.reset(components, levels);
    planner.replanFinest(plan, *rates, &planned);
    tearDownPlanner(&planner);
    rates->levelBits[0] = estimatedLevelBits(planned, 0);
}

#include "codec/encoder/size_fill.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "codec/core/geometry.h"
#include "codec/encoder/effort_search.h"
#include "codec/encoder/significance_planner.h"
#include "codec/encoder/step_search.h"
#include "codec/onepass/significance_marking.h"

namespace {

constexpr int32_t kStepTrials = 14;
constexpr int32_t kBoostTrials = 6;
constexpr double kCostRaise = 4.0;
constexpr int32_t kCostTrials = 8;
constexpr int32_t kBlendTrials = 16;
constexpr double kLeastCost = 1.0 / 4096.0;

// Level-progressive map coder 1 with value coders 1..3 codes every value of a
// level or none.
bool codesEveryValue(const EncoderParams& p)
{
    return p.decodeMode == 1 && p.mapCoder == 1 && p.valueCoder != 0;
}

struct Fill {
    const PreparedPicture& prepared;
    int64_t maxBytes;
    int64_t floorBytes;
    EncoderParams best;
    std::vector<uint8_t>* out;
    EncodeStats* stats;
    int64_t bestSize;
    std::vector<uint8_t> trial;
    EncodeStats trialStats;
    std::string error;
    // The smallest stream over the budget, for a cut.
    std::vector<uint8_t> over;
    EncoderParams overParams;
    EncodeStats overStats;

    bool done() const { return bestSize >= floorBytes; }

    // Encodes p (planning in *workspace unless it holds the plan to write);
    // keeps the stream where it is the largest within the budget so far.
    // Returns the size, or -1 on failure.
    int64_t run(const EncoderParams& p, EncodeWorkspace* workspace)
    {
        if (!encodePrepared(prepared, p, &trial, &trialStats, &error, workspace))
            return -1;
        int64_t size = static_cast<int64_t>(trial.size());
        if (size <= maxBytes && size > bestSize) {
            bestSize = size;
            best = p;
            out->swap(trial);
            if (stats)
                *stats = trialStats;
        } else if (size > maxBytes && (over.empty() || size < static_cast<int64_t>(over.size()))) {
            over.swap(trial);
            overParams = p;
            overStats = trialStats;
        }
        return size;
    }
};

// The finer step that is over, its finest levels boosted (the values there
// then take smaller indexes): bisects the boost for the largest stream within
// the budget.
void fillWithBoost(Fill* f, EncoderParams p, int32_t overStep, EncodeWorkspace* workspace)
{
    p.quantStep = overStep;
    int32_t lo = 0, hi = kMaxMagnitudeBoost;
    p.magnitudeBoost = hi;
    int64_t size = f->run(p, workspace);
    if (size < 0 || size > f->maxBytes)
        return;
    for (int32_t t = 0; t < kBoostTrials && hi - lo > 1 && !f->done(); t++) {
        p.magnitudeBoost = lo + (hi - lo) / 2;
        size = f->run(p, workspace);
        if (size < 0)
            return;
        if (size > f->maxBytes)
            lo = p.magnitudeBoost;
        else
            hi = p.magnitudeBoost;
    }
}

// Finer steps: steps down by doubling distances until a stream is over, then
// bisects. Where every value is coded and a finer step is over, a higher value
// cost there (which may leave a whole level out again) is tried before giving
// the step up.
void fillWithSteps(Fill* f, bool mayBoost, EncodeWorkspace* workspace)
{
    EncoderParams p = f->best;
    // Elsewhere a higher cost or a boost at a finer step buys the bytes with
    // values left out or rebuilt coarser, which costs more than it gains.
    bool everyValue = codesEveryValue(p);
    int32_t under = p.quantStep, over = 0;
    for (int32_t d = 1, trials = 0; trials < kStepTrials && !f->done(); trials++) {
        int32_t q = over ? under - (under - over) / 2 : under - d;
        if (q < 1)
            q = 1;
        if (q == under || q == over)
            break;
        p.quantStep = q;
        int64_t size = f->run(p, workspace);
        if (size > f->maxBytes && everyValue && trials + 1 < kStepTrials) {
            trials++;
            p.valueCost *= kCostRaise;
            size = f->run(p, workspace);
            if (size > f->maxBytes)
                p.valueCost /= kCostRaise;
        }
        if (size < 0)
            return;
        if (size > f->maxBytes)
            over = q;
        else
            under = q;
        if (!over)
            d *= 2;
        if (over && under - over <= 1)
            break;
    }
    if (over && under - over == 1 && everyValue && mayBoost && p.magnitudeBoost == 0)
        fillWithBoost(f, p, over, workspace);
}

// Positions whose decisions differ between two plans, coarsest level first,
// each as component << 40 | position.
void differences(const PicturePlan& a, const PicturePlan& b, std::vector<uint64_t>* list)
{
    list->clear();
    for (int32_t L = a.levels - 1; L >= 0; L--)
        for (int32_t c = 0; c < a.components; c++) {
            const ComponentPlan& x = a.component[c];
            const ComponentPlan& y = b.component[c];
            for (int32_t band = 0; band < 3; band++) {
                BandRect rect = bandRect(a.height, a.width, L, band);
                for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
                    for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
                        size_t p = a.at(r, col);
                        bool same = x.index[p] == y.index[p] && (x.index[p] < 0 || x.negative[p] == y.negative[p])
                                    && (x.mapCode.empty() || x.mapCode[p] == y.mapCode[p]);
                        if (!same)
                            list->push_back(static_cast<uint64_t>(c) << 40 | p);
                    }
            }
        }
}

// One-pass: an ancestor code promises a coded position below it. Finest level
// first, ancestors left without one become explicit values where their index
// allows, else are left out.
void keepAncestorsAboveCodedValues(PicturePlan* plan, int32_t minExplicit, uint8_t** rowCodes, uint8_t** colCodes)
{
    int32_t levels = plan->levels;
    std::vector<uint8_t> below(static_cast<size_t>(plan->height) * plan->width, 0);
    for (int32_t c = 0; c < plan->components; c++) {
        ComponentPlan& cp = plan->component[c];
        std::fill(below.begin(), below.end(), 0);
        cp.mapLevel = levels;
        for (int32_t L = 0; L < levels; L++)
            for (int32_t b = 0; b < 3; b++) {
                BandRect rect = bandRect(plan->height, plan->width, L, b);
                for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
                    for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
                        size_t p = plan->at(r, col);
                        if (cp.mapCode[p] == MAP_ANCESTOR && !below[p]) {
                            if (cp.index[p] >= minExplicit) {
                                cp.mapCode[p] = MAP_SIGNIFICANT;
                            } else {
                                cp.mapCode[p] = MAP_NOT_SIGNIFICANT;
                                cp.index[p] = -1;
                                cp.negative[p] = 0;
                            }
                        }
                        if (cp.mapCode[p] == MAP_NOT_SIGNIFICANT)
                            continue;
                        if (cp.mapLevel > L)
                            cp.mapLevel = L;
                        if (L + 1 < levels) {
                            int32_t pr = parentCoordinate(r, rowCodes[b][L], rect.rowEnd);
                            int32_t pc = parentCoordinate(col, colCodes[b][L], rect.colEnd);
                            below[plan->at(pr, pc)] = 1;
                        }
                    }
            }
    }
}

// Brings a mixed plan back under the zero-tree rules: one-pass positions
// whose parent is no ancestor are left out; level-progressive positions whose
// parent is left out at a level with detail are known zero.
void restoreTreeRules(PicturePlan* plan, int32_t decodeMode, int32_t minExplicit, uint8_t** rowCodes,
                      uint8_t** colCodes)
{
    int32_t levels = plan->levels;
    int32_t width = plan->width;
    for (int32_t c = 0; c < plan->components; c++)
        plan->component[c].mapLevel = levels;
    for (int32_t L = levels - 1; L >= 0; L--) {
        bool any = false;
        for (int32_t c = 0; c < plan->components; c++) {
            ComponentPlan& cp = plan->component[c];
            for (int32_t b = 0; b < 3; b++) {
                BandRect rect = bandRect(plan->height, width, L, b);
                for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
                    for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
                        size_t p = plan->at(r, col);
                        if (decodeMode == 0 && L + 1 < levels && cp.mapCode[p] != MAP_NOT_SIGNIFICANT) {
                            int32_t pr = parentCoordinate(r, rowCodes[b][L], rect.rowEnd);
                            int32_t pc = parentCoordinate(col, colCodes[b][L], rect.colEnd);
                            if (cp.mapCode[plan->at(pr, pc)] != MAP_ANCESTOR) {
                                cp.mapCode[p] = MAP_NOT_SIGNIFICANT;
                                cp.index[p] = -1;
                                cp.negative[p] = 0;
                            }
                        }
                        if (cp.index[p] >= 0) {
                            any = true;
                            cp.mapLevel = L;
                        }
                    }
            }
        }
        if (decodeMode == 0)
            continue;
        plan->levelHasDetail[L] = any;
        if (!any || L == 0)
            continue;
        for (int32_t c = 0; c < plan->components; c++) {
            ComponentPlan& cp = plan->component[c];
            for (int32_t b = 0; b < 3; b++) {
                BandRect rect = bandRect(plan->height, width, L, b);
                for (int32_t r = rect.rowStart; r < rect.rowEnd; r++) {
                    int32_t rowFirst, rowCount;
                    childSpan(rowCodes[b][L - 1], r, r == rect.rowEnd - 1, &rowFirst, &rowCount);
                    for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
                        if (cp.index[plan->at(r, col)] >= 0)
                            continue;
                        int32_t colFirst, colCount;
                        childSpan(colCodes[b][L - 1], col, col == rect.colEnd - 1, &colFirst, &colCount);
                        for (int32_t i = 0; i < rowCount; i++)
                            for (int32_t j = 0; j < colCount; j++) {
                                size_t child = plan->at(rowFirst + i, colFirst + j);
                                cp.index[child] = -1;
                                cp.negative[child] = 0;
                            }
                    }
                }
            }
        }
    }
    if (decodeMode == 0)
        keepAncestorsAboveCodedValues(plan, minExplicit, rowCodes, colCodes);
}

// Lower value costs at the chosen step: the nearest one over the budget, and
// then that plan's decisions taken over from the chosen plan's, coarsest
// level first, as far as the budget allows.
void fillWithCosts(Fill* f, EncodeWorkspace* workspace)
{
    // Every value coded: the cost only says which levels are, and sizes jump.
    EncoderParams under = f->best, over = f->best;
    if (codesEveryValue(under))
        return;
    over.valueCost = -1.0;
    int32_t trials = 0;
    while (trials < kCostTrials && !f->done()) {
        EncoderParams p = under;
        if (over.valueCost < 0.0)
            p.valueCost = under.valueCost > 4.0 * kLeastCost ? under.valueCost / 4.0 : 0.0;
        else
            p.valueCost = over.valueCost > 0.0 ? std::sqrt(under.valueCost * over.valueCost) : under.valueCost / 2.0;
        if (p.valueCost == under.valueCost || p.valueCost == over.valueCost)
            break;
        int64_t size = f->run(p, workspace);
        trials++;
        if (size < 0)
            return;
        if (size > f->maxBytes)
            over = p;
        else
            under = p;
        if (over.valueCost < 0.0 && p.valueCost == 0.0)
            return; // every value is coded and the stream still fits
        if (over.valueCost >= 0.0 && (under.valueCost - over.valueCost) < 0.01 * under.valueCost)
            break;
    }
    int64_t samples = static_cast<int64_t>(f->prepared.height) * f->prepared.width;
    if (f->done() || over.valueCost < 0.0 || samples > kFillBlendMaxSamples)
        return;

    EncodeWorkspace a, b;
    if (f->run(under, &a) < 0 || f->run(over, &b) < 0)
        return;
    std::vector<uint64_t> list;
    differences(a.plan, b.plan, &list);
    uint8_t **rowCodes = nullptr, **colCodes = nullptr;
    if (list.empty() || !makeBandParityTables(&rowCodes, &colCodes, a.plan.height, a.plan.width, a.plan.levels))
        return;
    workspace->reusePlan = true;
    size_t lo = 0, hi = list.size();
    for (int32_t t = 0; t < kBlendTrials && hi - lo > 1 && !f->done(); t++) {
        size_t k = lo + (hi - lo) / 2;
        workspace->plan = a.plan;
        for (size_t i = 0; i < k; i++) {
            int32_t c = static_cast<int32_t>(list[i] >> 40);
            size_t p = static_cast<size_t>(list[i] & ((uint64_t(1) << 40) - 1));
            ComponentPlan& to = workspace->plan.component[c];
            const ComponentPlan& from = b.plan.component[c];
            to.index[p] = from.index[p];
            to.negative[p] = from.negative[p];
            if (!to.mapCode.empty())
                to.mapCode[p] = from.mapCode[p];
        }
        restoreTreeRules(&workspace->plan, under.decodeMode, under.valueCoder == 3 ? 0 : 1, rowCodes, colCodes);
        int64_t size = f->run(under, workspace);
        if (size < 0)
            break;
        if (size > f->maxBytes)
            hi = k;
        else
            lo = k;
    }
    workspace->reusePlan = false;
    freeBandParityTables(rowCodes, colCodes);
}

// Level-progressive streams that stay short: a larger stream cut to the
// budget, where that decodes closer to the picture (the cut drops the last
// values of its finest coded level, which may cost less than the coarser step
// or the level the whole stream leaves out). Tried: the smallest stream over
// the budget, and the whole stream's step at a lower value cost.
// Without the picture, it is rebuilt from the prepared one; the workspace's
// plan goes before each decode, so that only one picture's planes besides the
// prepared ones are held at a time.
void cutWhereCloser(Fill* f, const EncoderPicture* given, EncodeWorkspace* workspace)
{
    if (f->best.decodeMode != 1)
        return;
    workspace->plan = PicturePlan();
    EncoderPicture rebuilt;
    std::vector<uint16_t> samples;
    if (!given && !restorePicture(f->prepared, &samples, &rebuilt))
        return;
    const EncoderPicture& picture = given ? *given : rebuilt;
    EncoderParams p = f->best;
    p.valueCost /= kCostRaise;
    double leastError = decodedSquaredError(*f->out, picture);
    auto tryCut = [&](std::vector<uint8_t>* stream, const EncoderParams& params, const EncodeStats& stats) {
        if (static_cast<int64_t>(stream->size()) <= f->maxBytes)
            return;
        stream->resize(static_cast<size_t>(f->maxBytes));
        double error = decodedSquaredError(*stream, picture);
        if (!(error >= 0.0 && error < leastError))
            return;
        leastError = error;
        f->out->swap(*stream);
        f->bestSize = f->maxBytes;
        f->best = params;
        if (f->stats) {
            *f->stats = stats;
            f->stats->cut = true;
        }
    };
    tryCut(&f->over, f->overParams, f->overStats);
    if (p.valueCost > 0.0 && encodePrepared(f->prepared, p, &f->trial, &f->trialStats, &f->error, workspace)) {
        workspace->plan = PicturePlan();
        tryCut(&f->trial, p, f->trialStats);
    }
}

} // namespace

bool fillToSize(const EncoderPicture* picture, const PreparedPicture& prepared, int64_t maxBytes, bool mayBoost,
                EncoderParams* chosen, std::vector<uint8_t>* out, EncodeStats* stats, EncodeWorkspace* workspace)
{
    // Aims strictly inside the window.
    int64_t floorBytes = static_cast<int64_t>(std::ceil(static_cast<double>(maxBytes) * (1.0 - kSizeTolerance))) + 1;
    int64_t size = static_cast<int64_t>(out->size());
    if (size >= floorBytes || size > maxBytes || (stats && stats->cut))
        return false;
    Fill f{prepared, maxBytes, floorBytes, *chosen, out, stats, size, {}, {}, {}, {}, {}, {}};
    f.best.searchProgress = nullptr;
    f.best.samplesRead = nullptr;
    workspace->reusePlan = false;
    if (chosen->quantStep > 1)
        fillWithSteps(&f, mayBoost, workspace);
    if (!f.done())
        fillWithCosts(&f, workspace);
    int64_t samples = static_cast<int64_t>(prepared.height) * prepared.width;
    if (!f.done() && (picture || samples <= kFillCutMaxSamples))
        cutWhereCloser(&f, picture, workspace);
    chosen->quantStep = f.best.quantStep;
    chosen->valueCost = f.best.valueCost;
    chosen->magnitudeBoost = f.best.magnitudeBoost;
    return true;
}

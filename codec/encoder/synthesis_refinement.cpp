#include "codec/encoder/synthesis_refinement.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "codec/core/geometry.h"
#include "codec/encoder/colour_feedback.h"
#include "codec/encoder/quantiser.h"

namespace {

double planeScale(int32_t c, int32_t L, int32_t b)
{
    return c > 0 ? 0.5 * detailScale(L, b) : detailScale(L, b);
}

// Squared error in red, green and blue of errors in two components.
void colourMix(int32_t components, double mix[3][3])
{
    mix[0][0] = 1.0;
    if (components == 3)
        for (int32_t a = 0; a < 3; a++)
            for (int32_t b = 0; b < 3; b++)
                mix[a][b] = colourErrorProduct(a, b);
}

// Turns the colour-weighted error r (coefficients) of component c into the
// descent step: the gradient S' S r over the detail values, each scaled by its
// pattern's energy, the lowest band left alone. Returns the sum of gradient
// times step.
double scaledGradient(CoefficientPlane* r, int32_t c, int32_t levels, const std::vector<double>& weights,
                      const double mix[3][3])
{
    inverseTransform(r, levels);
    adjointInverseTransform(r, levels);
    int32_t height = r->height;
    int32_t width = r->width;
    int32_t R = levelSize(height, levels);
    int32_t C = levelSize(width, levels);
    for (int32_t row = 0; row < R; row++)
        std::fill(r->row(row), r->row(row) + C, 0.0f);
    double gain = 0.0;
    for (int32_t L = 0; L < levels; L++) {
        for (int32_t b = 0; b < 3; b++) {
            double scale = detailScale(L, b);
            double energy = weights[static_cast<size_t>(L) * 3 + b] * scale * scale * mix[c][c];
            float share = static_cast<float>(1.0 / energy);
            BandRect rect = bandRect(height, width, L, b);
            for (int32_t row = rect.rowStart; row < rect.rowEnd; row++) {
                float* g = r->row(row);
                double sum = 0.0;
                for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
                    sum += static_cast<double>(g[col]) * g[col];
                    g[col] *= share;
                }
                gain += sum * share;
            }
        }
    }
    return gain;
}

// The colour-weighted squared size of the picture the steps d add.
double pictureEnergy(const CoefficientPlane* d, int32_t components, int32_t levels, CoefficientPlane* scratch)
{
    double energy = 0.0;
    for (int32_t ch = 0; ch < components; ch++) {
        *scratch = d[0];
        float* s = scratch->samples.data();
        size_t n = scratch->samples.size();
        if (components == 3) {
            float g0 = static_cast<float>(kLowestColourGain[0][ch]);
            float g1 = static_cast<float>(kLowestColourGain[1][ch]);
            float g2 = static_cast<float>(kLowestColourGain[2][ch]);
            const float* d1 = d[1].samples.data();
            const float* d2 = d[2].samples.data();
            for (size_t i = 0; i < n; i++)
                s[i] = g0 * s[i] + g1 * d1[i] + g2 * d2[i];
        }
        inverseTransform(scratch, levels);
        for (size_t i = 0; i < n; i++)
            energy += static_cast<double>(s[i]) * s[i];
    }
    return energy;
}

} // namespace

void decodedPlane(const PicturePlan& plan, const PlanSettings& settings, int32_t c, CoefficientPlane* out)
{
    int32_t height = plan.height;
    int32_t width = plan.width;
    out->height = height;
    out->width = width;
    out->samples.assign(static_cast<size_t>(height) * width, 0.0f);
    const ComponentPlan& cp = plan.component[c];
    int32_t R = levelSize(height, plan.levels);
    int32_t C = levelSize(width, plan.levels);
    double lowScale = 32.0 * std::ldexp(1.0, plan.levels);
    for (int32_t r = 0; r < R; r++)
        for (int32_t col = 0; col < C; col++)
            out->row(r)[col] = static_cast<float>(
                reconstructLowest(cp.lowest[static_cast<size_t>(r) * C + col], settings.quantStep, c) / lowScale);
    for (int32_t L = 0; L < plan.levels; L++) {
        Dequantiser d = planDequantiser(settings, L);
        for (int32_t b = 0; b < 3; b++) {
            BandRect rect = bandRect(height, width, L, b);
            double scale = planeScale(c, L, b);
            for (int32_t r = rect.rowStart; r < rect.rowEnd; r++) {
                float* row = out->row(r);
                for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
                    size_t p = plan.at(r, col);
                    int32_t J = cp.index[p];
                    if (J < 0)
                        continue;
                    double v = dequantiseMagnitude(&d, J) / scale;
                    row[col] = static_cast<float>(cp.negative[p] ? -v : v);
                }
            }
        }
    }
}

void refineForSynthesis(const CoefficientPlane* planes, int32_t components, int32_t levels,
                        const PlanSettings& settings, int32_t rounds, PicturePlan* plan)
{
    if (rounds <= 0 || levels <= 0 || settings.mapCoder == 3)
        return;
    CoefficientPlane fitted[3];
    for (int32_t c = 0; c < components; c++)
        fitted[c] = planes[c];
    if (fitToSynthesis(fitted, components, levels, settings, rounds, plan, false))
        planWithColourFeedback(fitted, components, levels, settings, plan);
}

bool fitToSynthesis(CoefficientPlane* planes, int32_t components, int32_t levels, const PlanSettings& settings,
                    int32_t rounds, PicturePlan* plan, bool releasePlan)
{
    double mix[3][3];
    colourMix(components, mix);
    std::vector<double> weights;
    detailErrorWeights(levels, &weights);

    // The synthesis acts on every component alike and the colour weighting
    // mixes components sample by sample, so the decoded picture's weighted
    // error S'M S (p - w) is S'S of the mixed coefficient error: planes hold
    // that error p - w, work the values as decoded (w), step the descent step
    // (in planes itself on the last round, when the error is needed no more).
    CoefficientPlane work[3], step[3], scratch;
    for (int32_t c = 0; c < components; c++) {
        decodedPlane(*plan, settings, c, &work[c]);
        if (releasePlan && rounds == 1)
            plan->component[c] = ComponentPlan();
        float* e = planes[c].samples.data();
        const float* w = work[c].samples.data();
        for (size_t i = 0; i < planes[c].samples.size(); i++)
            e[i] -= w[i];
    }
    size_t n = planes[0].samples.size();
    for (int32_t round = 0; round < rounds; round++) {
        bool last = round + 1 == rounds;
        if (last && releasePlan)
            *plan = PicturePlan();
        CoefficientPlane* d = last ? planes : step;
        if (!last)
            for (int32_t c = 0; c < components; c++)
                step[c] = planes[c];
        if (components == 3)
            for (size_t i = 0; i < n; i++) {
                double e[3] = {d[0].samples[i], d[1].samples[i], d[2].samples[i]};
                for (int32_t a = 0; a < 3; a++)
                    d[a].samples[i] = static_cast<float>(mix[a][0] * e[0] + mix[a][1] * e[1] + mix[a][2] * e[2]);
            }
        double gain = 0.0;
        for (int32_t c = 0; c < components; c++)
            gain += scaledGradient(&d[c], c, levels, weights, mix);
        // How far along it: the least squared error of the unrounded values.
        double norm = pictureEnergy(d, components, levels, &scratch);
        if (!(norm > 0.0))
            return false;
        // From the values as decoded: a value left out whose error alone is
        // behind its gradient comes back at about its first size, not twice it.
        float t = static_cast<float>(gain / norm);
        for (int32_t c = 0; c < components; c++) {
            float* w = work[c].samples.data();
            const float* s = d[c].samples.data();
            for (size_t i = 0; i < n; i++)
                w[i] += t * s[i];
        }
        if (last)
            break;
        // The next round starts from these values as planned and decoded.
        planPicture(work, components, levels, settings, plan);
        for (int32_t c = 0; c < components; c++) {
            decodedPlane(*plan, settings, c, &scratch);
            float* e = planes[c].samples.data();
            const float* s = step[c].samples.data();
            const float* w = work[c].samples.data();
            const float* v = scratch.samples.data();
            for (size_t i = 0; i < n; i++)
                e[i] += w[i] - t * s[i] - v[i];
            std::swap(work[c], scratch);
        }
    }
    for (int32_t c = 0; c < components; c++)
        std::swap(planes[c], work[c]);
    return true;
}

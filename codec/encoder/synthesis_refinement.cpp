#include "codec/encoder/synthesis_refinement.h"

#include <cmath>
#include <utility>
#include <vector>

#include "codec/core/geometry.h"
#include "codec/encoder/quantiser.h"

namespace {

double planeScale(int32_t c, int32_t L, int32_t b)
{
    return c > 0 ? 0.5 * detailScale(L, b) : detailScale(L, b);
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
    if (fitToSynthesis(planes, components, levels, settings, rounds, plan, fitted))
        planPicture(fitted, components, levels, settings, plan);
}

bool fitToSynthesis(const CoefficientPlane* planes, int32_t components, int32_t levels,
                    const PlanSettings& settings, int32_t rounds, PicturePlan* plan, CoefficientPlane* fitted)
{
    // Squared error in red, green and blue of errors in two components.
    double mix[3][3] = {{1.0}};
    if (components == 3)
        for (int32_t a = 0; a < 3; a++)
            for (int32_t b = 0; b < 3; b++) {
                mix[a][b] = 0.0;
                for (int32_t ch = 0; ch < 3; ch++)
                    mix[a][b] += kLowestColourGain[a][ch] * kLowestColourGain[b][ch];
            }
    std::vector<double> weights;
    detailErrorWeights(levels, &weights);
    int32_t height = planes[0].height;
    int32_t width = planes[0].width;
    int32_t R = levelSize(height, levels);
    int32_t C = levelSize(width, levels);

    // original: the picture; work: the plan's values as decoded; error: what
    // the plan misses of the picture; step: the correction of the values and
    // then the picture it adds.
    CoefficientPlane original[3], work[3], error[3], step[3];
    for (int32_t c = 0; c < components; c++) {
        original[c] = planes[c];
        inverseTransform(&original[c], levels);
    }
    size_t n = original[0].samples.size();
    for (int32_t round = 0; round < rounds; round++) {
        if (round > 0)
            planPicture(work, components, levels, settings, plan);
        for (int32_t c = 0; c < components; c++) {
            decodedPlane(*plan, settings, c, &work[c]);
            error[c] = work[c];
            inverseTransform(&error[c], levels);
            float* e = error[c].samples.data();
            const float* o = original[c].samples.data();
            for (size_t i = 0; i < n; i++)
                e[i] = o[i] - e[i];
            step[c] = error[c];
        }
        if (components == 3)
            for (size_t i = 0; i < n; i++)
                for (int32_t a = 0; a < 3; a++)
                    step[a].samples[i] = static_cast<float>(mix[a][0] * error[0].samples[i]
                                                            + mix[a][1] * error[1].samples[i]
                                                            + mix[a][2] * error[2].samples[i]);
        // The gradient, each value scaled by its pattern's energy.
        for (int32_t c = 0; c < components; c++) {
            adjointInverseTransform(&step[c], levels);
            for (int32_t r = 0; r < R; r++)
                for (int32_t col = 0; col < C; col++)
                    step[c].row(r)[col] = 0.0f;
            for (int32_t L = 0; L < levels; L++) {
                for (int32_t b = 0; b < 3; b++) {
                    double scale = detailScale(L, b);
                    double energy = weights[static_cast<size_t>(L) * 3 + b] * scale * scale * mix[c][c];
                    float share = static_cast<float>(1.0 / energy);
                    BandRect rect = bandRect(height, width, L, b);
                    for (int32_t r = rect.rowStart; r < rect.rowEnd; r++) {
                        float* g = step[c].row(r);
                        for (int32_t col = rect.colStart; col < rect.colEnd; col++)
                            g[col] *= share;
                    }
                }
            }
        }
        // How far along it: the least squared error of the unrounded values.
        std::vector<CoefficientPlane> along(step, step + components);
        for (int32_t c = 0; c < components; c++)
            inverseTransform(&along[c], levels);
        double gain = 0.0, norm = 0.0;
        for (size_t i = 0; i < n; i++)
            for (int32_t a = 0; a < components; a++)
                for (int32_t b = 0; b < components; b++) {
                    double s = along[b].samples[i] * mix[a][b];
                    gain += error[a].samples[i] * s;
                    norm += along[a].samples[i] * s;
                }
        if (!(norm > 0.0))
            return false;
        // From the values as decoded: a value left out whose error alone is
        // behind its gradient comes back at about its first size, not twice it.
        float t = static_cast<float>(gain / norm);
        for (int32_t c = 0; c < components; c++) {
            for (size_t i = 0; i < n; i++)
                work[c].samples[i] += t * step[c].samples[i];
        }
    }
    for (int32_t c = 0; c < components; c++)
        fitted[c] = std::move(work[c]);
    return true;
}

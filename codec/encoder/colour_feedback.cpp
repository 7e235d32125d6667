#include "codec/encoder/colour_feedback.h"

#include "codec/core/geometry.h"
#include "codec/encoder/synthesis_refinement.h"

void planWithColourFeedback(const CoefficientPlane* planes, int32_t components, int32_t levels,
                            const PlanSettings& settings, PicturePlan* plan, PlanRates* rates)
{
    int32_t height = planes[0].height;
    int32_t width = planes[0].width;
    if (components != 3 || levels <= 0 || settings.mapCoder == 3
        || static_cast<int64_t>(height) * width > kColourFeedbackMaxSamples) {
        planPicture(planes, components, levels, settings, plan, rates);
        return;
    }
    // The errors of components 0 and 1 are all the first plan is for: it
    // plans them alone (each component is weighed on its own).
    planPicture(planes, 2, levels, settings, plan);
    // Given the errors eY and eU left in components 0 and 1, the colour error
    // is least where component 1 is coded towards u + k10 eY, and component 2
    // towards v + k20 eY + k21 eU (eU of the first plan).
    double k10 = colourErrorProduct(1, 0) / colourErrorProduct(1, 1);
    double k20 = colourErrorProduct(2, 0) / colourErrorProduct(2, 2);
    double k21 = colourErrorProduct(2, 1) / colourErrorProduct(2, 2);
    CoefficientPlane target[3] = {planes[0], planes[1], planes[2]};
    CoefficientPlane decoded;
    int32_t R = levelSize(height, levels);
    int32_t C = levelSize(width, levels);
    // The lowest band keeps its values: its steps are fine.
    auto detail = [&](auto apply) {
        for (int32_t r = 0; r < height; r++)
            for (int32_t col = r < R ? C : 0; col < width; col++)
                apply(static_cast<size_t>(r) * width + col);
    };
    decodedPlane(*plan, settings, 0, &decoded);
    detail([&](size_t i) {
        double e = static_cast<double>(planes[0].samples[i]) - decoded.samples[i];
        target[1].samples[i] = static_cast<float>(planes[1].samples[i] + k10 * e);
        target[2].samples[i] = static_cast<float>(planes[2].samples[i] + k20 * e);
    });
    decodedPlane(*plan, settings, 1, &decoded);
    detail([&](size_t i) {
        double e = static_cast<double>(planes[1].samples[i]) - decoded.samples[i];
        target[2].samples[i] = static_cast<float>(target[2].samples[i] + k21 * e);
    });
    planPicture(target, components, levels, settings, plan, rates);
}

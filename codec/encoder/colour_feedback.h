// Planning colour pictures with the decoder's colour split in view. Each
// component's values add a fixed colour to red, green and blue, and those
// colours overlap, so what the coded values of one component leave over at a
// position the next component can partly take back at the same position.
#pragma once
#include <cstdint>

#include "codec/encoder/coefficient_plan.h"
#include "codec/encoder/forward_transform.h"
#include "codec/encoder/significance_planner.h"

// Samples up to which colour pictures are planned with the feedback: it
// holds four more planes and plans components 0 and 1 once more.
constexpr int64_t kColourFeedbackMaxSamples = int64_t(1) << 20;

// Plans as planPicture does. Colour pictures up to kColourFeedbackMaxSamples
// samples are then planned again with the detail values of components 1 and
// 2 moved by the errors that the first plan leaves in the components before
// them, each by the share that brings the red, green and blue error least.
void planWithColourFeedback(const CoefficientPlane* planes, int32_t components, int32_t levels,
                            const PlanSettings& settings, PicturePlan* plan, PlanRates* rates = nullptr);

// Detail values fitted to the decoder's synthesis. The analysis transform is
// the synthesis' inverse only for values kept exactly; once values are left
// out or rounded to their steps, moving the others lets the decoded picture,
// not the transform, come closer to the original. Every round decodes the plan
// in floating point, carries the picture's error back through the transpose of
// the synthesis (colour errors measured in red, green and blue), corrects each
// value by its share and plans again from the corrected values.
#pragma once
#include <cstdint>

#include "codec/encoder/coefficient_plan.h"
#include "codec/encoder/forward_transform.h"
#include "codec/encoder/significance_planner.h"

// planes: the transformed components the plan was made from. The lowest band
// stays as planned.
void refineForSynthesis(const CoefficientPlane* planes, int32_t components, int32_t levels,
                        const PlanSettings& settings, int32_t rounds, PicturePlan* plan);

// Replaces planes[0 .. components - 1] (the transformed components *plan was
// planned from) by the values after `rounds` rounds (rounds >= 1, levels >= 1,
// a map coder that codes detail), to be planned from; *plan is left as the
// last round's start, or released where releasePlan (once read). The last
// round holds one more plane per component and one besides.
// False, with planes spent, where the error stops falling early (the picture
// is already rebuilt exactly); *plan is then the values' best plan unless
// released.
bool fitToSynthesis(CoefficientPlane* planes, int32_t components, int32_t levels, const PlanSettings& settings,
                    int32_t rounds, PicturePlan* plan, bool releasePlan);

// The plan's values as the decoder rebuilds them, in plane units (component c).
void decodedPlane(const PicturePlan& plan, const PlanSettings& settings, int32_t c, CoefficientPlane* out);

// One band of a level prepared for adding its values into one plane
// (preparePlaneBand in codec/synth): the positions whose synthesis patterns
// need no edge rule are found by two range checks.
#pragma once
#include <cstdint>

#include "codec/core/array2d.h"

struct PlaneBand {
    Plane plane;
    int32_t levelHeight;
    int32_t levelWidth;
    int32_t lowHeight;
    int32_t lowWidth;
    int32_t band;
    int32_t rowFirst; // the positions with interior patterns
    int32_t colFirst;
    uint32_t rowCount;
    uint32_t colCount;
    int32_t yBase; // an interior position's centre sample is 2 x row - yBase
    int32_t xBase;
};

// Five-point sharpening of a plane into a second plane.
#pragma once
#include <cstdint>

#include "codec/core/array2d.h"

// destination = (12 s - left - right - up - down) >> 3 over the interior of
// rows x cols samples; the border rows and columns are copied. strength is
// accepted and not used. Planes of at least 3 x 3 samples.
void sharpenPlane(Plane source, Plane destination, int32_t rows, int32_t cols, int32_t strength);

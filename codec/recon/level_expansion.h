// Expansion of a plane from one level to the next finer one (the low-pass
// half of the synthesis), in place.
#pragma once
#include <cstdint>

#include "codec/core/array2d.h"

// Spreads the level L+1 grid held in the top-left corner of the plane over
// the level L grid: coarse samples go to even positions (halved), positions
// between are interpolated. height and width are the picture's full size.
// Grids of at least 2 x 2 samples; the guard row and column are not touched.
void expandLevel(Plane plane, int32_t height, int32_t width, int32_t L);

// Reader of one component's lowest band.
#pragma once
#include <cstdint>

#include "codec/core/array2d.h"

struct BitReader;

// Reads the coarsest grid of component `component` (0, 1, 2) into the
// top-left corner of the plane at the plane scale of level `levels` and
// returns the band's rounded mean in pixel units. height and width are the
// picture's full size.
int32_t readLowestBand(BitReader* bits, Plane plane, int32_t height, int32_t width,
                       int32_t component, int32_t levels, uint32_t quantStep);

// Significance-map encoders of the one-pass mode: raster runs (map coder 0),
// runs along the quadrant curve (1) and the raw-bit quadtree (2).
#pragma once
#include <cstdint>

#include "codec/encoder/coefficient_plan.h"

struct BitReader;

// Writes the map of component c as decodeSignificanceMap reads it for map
// coder mapCoder: the grid of level mapLevel with levels - mapLevel levels.
// Map coder 3 writes nothing. Returns false when out of memory.
bool encodeSignificanceMap(BitReader* writer, const PicturePlan& plan, int32_t c, int32_t mapCoder);

// Streams for decoders that sharpen: decoders asked to sharpen filter the
// level-1 grid with (12 s - left - right - up - down) / 8 before the last
// expansion. The encoder can store the grid that this filter maps back onto
// the true one.
#pragma once
#include <cstdint>

#include "codec/encoder/forward_transform.h"

// Replaces rows x cols samples of the plane's top-left corner by the grid y
// whose sharpened form is the present grid: borders stay, the interior solves
// 1.5 y - (sum of the four neighbours) / 8 = x.
void unsharpenGrid(CoefficientPlane* plane, int32_t rows, int32_t cols);

// Applies unsharpenGrid to the level-1 grid (the planes after level 0 of the
// decomposition) the way the decoders of decodeMode sharpen: one-pass
// decoders sharpen plane 0 only (red for colour pictures, whose planes then
// hold red, green and blue), level-progressive decoders every plane.
void compensateSharpening(CoefficientPlane* planes, int32_t components, int32_t decodeMode);

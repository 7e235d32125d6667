// Low-memory mode: expansion of the level-1 grid straight into full-size
// 8-bit pixels. The source planes hold samples at 64 times the pixel scale in
// their top-left ((height + 2) >> 1) x ((width + 2) >> 1) corner and are only
// read.
#pragma once
#include <cstdint>

#include "codec/core/array2d.h"

// One plane into a grey pixel array, one byte per pixel.
void expandToGray8(Plane plane, PixelRows grayRows, int32_t height, int32_t width);

// One plane into one channel of 3-byte interleaved rows (row pointers address
// the channel's byte of each row's first pixel).
void expandToRgb8Channel(Plane plane, PixelRows channelRows, int32_t height, int32_t width);

// Three untransformed planes (Y, U, V) into 3-byte interleaved pixels through
// the integer inverse colour transform; rgbRows is channel 0's row table.
void expandYuvToRgb8(Plane* planes, PixelRows rgbRows, int32_t height, int32_t width);

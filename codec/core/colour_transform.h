// Inverse colour transform of the lowest band.
#pragma once
#include <cstdint>

#include "codec/core/array2d.h"

// Turns the Y, U, V samples of planes 0, 1, 2 into red, green, blue, in place,
// over the lowest band: rows 0..R(levels)-1, columns 0..C(levels)-1.
void colourTransform(Plane* planes, int32_t height, int32_t width, int32_t levels);

// Truncates toward zero to 64 bits, then wraps to 32 bits. Defined for every
// value the transform can produce (and saturates beyond the 64-bit range).
int32_t truncateToInt32(double value);

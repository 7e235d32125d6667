// Rendering of planes into 8-bit or 16-bit pixels through a tone table.
#pragma once
#include <cstdint>

#include "codec/core/array2d.h"

// Fills 2^bitsPerSample entries: the identity when contrastStretch is 0, else
// (i - meanLevel) * (contrastStretch + 1) + N/2 clamped to 0..N-1, computed in
// 32-bit wrapping arithmetic. Entries above 32767 are stored as their 16-bit
// pattern.
void makeToneTable(int16_t* table, int32_t bitsPerSample, int32_t meanLevel, int32_t contrastStretch);

// Final rendering of full-scale planes (32 x pixel value) into `out`, row by
// row: one byte per sample for 8-bit grey, two (low first) for deeper grey,
// three interleaved bytes for colour. bitsPerSample is 8..16 (8 for colour).
// Returns `out`, or null (nothing written) when a tone table is needed (all
// but the 8-bit identity) and cannot be allocated.
uint8_t* renderPlanes(Plane* planes, uint8_t* out, int32_t height, int32_t width,
                      int32_t bitsPerSample, int32_t components, int32_t meanLevel,
                      int32_t contrastStretch);

// Renders the R(L) x C(L) region of level L (samples at scale 2^(L+5)) into
// `out`, or into a new allocChecked block of R(L) x C(L) x (3, 2 or 1) bytes
// when `out` is null. Returns the pixels, or null when that allocation fails.
uint8_t* renderPartial(Plane* planes, uint8_t* out, int32_t height, int32_t width,
                       int32_t bitsPerSample, int32_t components, int32_t L,
                       const int16_t* toneTable);

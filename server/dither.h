// Floyd-Steinberg error diffusion of a pixel block to 3-3-2 palette indices.
#pragma once
#include <cstdint>

// Writes width x height indices into `out` as bottom-up rows of stride
// (width + 3) AND NOT 3, leaving the padding bytes alone. `pixels` is the
// decoder's block: three bytes per pixel when isColour, else one byte per
// sample, or two (low byte first) when bitsPerSample is above 8, of which
// the top 8 bits are used. Returns 0, or 102 when the row buffers cannot be
// allocated (nothing written then).
int32_t ditherFrame(const uint8_t* pixels, uint8_t* out, int32_t width, int32_t height, uint32_t isColour,
                    uint32_t bitsPerSample = 8);

// Conversion of the decoder's pixel block into the frame memory handed to the
// client, in the layout that FrameInfo.format asks for:
//   1      bottom-up bitmap rows padded to 4 bytes: blue-green-red, or grey;
//   3      bottom-up rows of 3-3-2 palette indices, error-diffused;
//   other  the pixel block as it is (top-down, unpadded, red-green-blue).
// Grey samples deeper than 8 bits give their top 8 bits in formats 1 and 3;
// the raw copy keeps both bytes of every sample.
#pragma once
#include <cstdint>

#include "codec/core/records.h"
#include "server/dither.h"
#include "server/palette.h"

// Converts width x height pixels of frame->pixels into frame->frameMemory and
// leaves that memory locked for the caller to unlock. A frameMemory of 0, or
// one too small for what this conversion writes, is (re)allocated with room
// for the whole picture (frame->width x frame->height); frameMemory then holds
// the new handle. Returns 0, or 102 when global memory cannot be had (the
// memory is then left unlocked).
int32_t convertFrame(FrameInfo* frame, int32_t width, int32_t height);

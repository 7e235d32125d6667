// The decoder's entry points.
#pragma once
#include <cstdint>

#include "codec/core/records.h"
#include "codec/core/session.h"

// Decodes the stream that `source` (or options->byteSource) delivers. Fills
// `frame` with the sizes and the pixel block (free it with decodeFree), also
// when the stream is refused. Returns the status code.
int32_t decodeStart(StreamSource* source, DecodeOptions* options, FrameInfo* frame);
// Renders the picture decoded so far, from inside a running decode.
int32_t decodeContinue(FrameInfo* frame);
void decodeFree(FrameInfo* frame);

// Reads and checks the header, allocates, runs the driver and renders.
void streamDecode(DecodeSession* session);

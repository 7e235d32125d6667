// The decoder's entry points.
#pragma once
#include <cstdint>

#include "codec/core/records.h"
#include "codec/session/session.h"

// Decodes the stream that `source` (or options->byteSource) delivers. Fills
// `frame` with the sizes and the pixel block (free it with decodeFree), also
// when the stream is refused. Returns the status code.
// Memory and picture size are bounded by the process-wide limit; an
// allocation failure inside a context model ends the process with its message.
int32_t decodeStart(StreamSource* source, DecodeOptions* options, FrameInfo* frame);

// Bounds of one decode for a program that embeds the decoder.
struct DecodeLimits {
    uint64_t memoryBytes; // picture and context models together; 0: the process-wide limit
    uint64_t pixels;      // height x width; 0: no bound besides memory
    int32_t threads;      // 0 or 1: decode on the calling thread alone; more: reconstruct on a second one
                          // where the picture is large enough for it to pay
    int32_t threadsAlways; // nonzero: with threads >= 2, whatever the picture
};
// decodeStart within `limits`: a picture beyond them is refused, and every
// allocation failure, the context models' included, ends the decode with status 8.
// A blockSource, when given, delivers the bytes in place of options->byteSource
// (with options->sourceContext), and decodes exactly as that would.
int32_t decodeStartWithin(StreamSource* source, DecodeOptions* options, FrameInfo* frame,
                          const DecodeLimits* limits, ByteBlockFn blockSource = nullptr);
// Puts a session under `limits` (null: the process-wide limit, and the
// server's rule that an allocation failure ends the process).
void setDecodeLimits(DecodeSession* session, const DecodeLimits* limits);
// Renders the picture decoded so far, from inside a running decode.
int32_t decodeContinue(FrameInfo* frame);
void decodeFree(FrameInfo* frame);

// Reads and checks the header, allocates, runs the driver and renders.
void streamDecode(DecodeSession* session);

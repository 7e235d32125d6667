// Decode requests: decode-and-convert, the asynchronous decode of message
// 1125, and the partial frame of request 202 and of the byte source.
#pragma once
#include <cstdint>

#include "codec/core/records.h"
#include "server/request_records.h"

// Decodes the stream and converts the picture into frame->frameMemory (left
// unlocked). `context` is the server's copy of a streaming request, or null
// for request 201, which decodes the bytes in `source` and ignores a
// byteSource. Returns 0, a decoder status, or 102.
int32_t decodeAndConvert(StreamSource* source, DecodeOptions* options, FrameInfo* frame,
                         AsyncDecodeRequest* context);

// Runs the streaming decode of `request` (a heap copy made by request 213),
// offers the final frame to the client, then frees the frame memory and the
// copy. Returns the decode status.
int32_t asyncDecode(AsyncDecodeRequest* request);

// Renders the running decode of `frame` into frameMemory. Returns 0, the
// status of decodeContinue (11, 12, 15, 8), or 102.
int32_t partialFrame(FrameInfo* frame);

// The server's wire records, request codes and window messages.
// All fields are 32 bits wide on the wire (pointers are 32-bit flat addresses
// there); on 64-bit builds pointers keep their native width.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec/core/records.h"

// The client's progress record; the server reads only progressInterval.
struct ProgressInfo {
    uint32_t clientFields[7];
    int32_t progressInterval; // stream bytes between partial frames; <= 0: none
};

// Request 201: decode an in-memory stream at once.
struct DecodeRequest {
    StreamSource* source;
    DecodeOptions* options;
    FrameInfo* frame;
};

// Request 213: decode a stream that is still arriving.
struct AsyncDecodeRequest {
    StreamSource* source;
    DecodeOptions* options;
    FrameInfo* frame;
    ProgressInfo* progress;
};

static_assert(offsetof(ProgressInfo, progressInterval) == 28, "ProgressInfo.progressInterval offset");

static_assert(sizeof(void*) != 4 || sizeof(DecodeRequest) == 12, "DecodeRequest is 12 bytes");
ZR_ASSERT_FIELD(DecodeRequest, source, 0);
ZR_ASSERT_FIELD(DecodeRequest, options, 4);
ZR_ASSERT_FIELD(DecodeRequest, frame, 8);

static_assert(sizeof(void*) != 4 || sizeof(AsyncDecodeRequest) == 16, "AsyncDecodeRequest is 16 bytes");
ZR_ASSERT_FIELD(AsyncDecodeRequest, source, 0);
ZR_ASSERT_FIELD(AsyncDecodeRequest, options, 4);
ZR_ASSERT_FIELD(AsyncDecodeRequest, frame, 8);
ZR_ASSERT_FIELD(AsyncDecodeRequest, progress, 12);

// WM_COPYDATA request codes (COPYDATASTRUCT.dwData).
enum : uint32_t {
    REQUEST_DECODE = 201,          // DecodeRequest: synchronous decode
    REQUEST_PARTIAL_FRAME = 202,   // FrameInfo: picture of the running decode
    REQUEST_RELEASE_FRAME = 203,   // FrameInfo: free frameMemory
    REQUEST_INIT_THUNK = 208,
    REQUEST_CLOSE_THUNK = 209,
    REQUEST_ASYNC_DECODE = 213,    // AsyncDecodeRequest: streaming decode
    REQUEST_TEST_MESSAGE = 214,
    REQUEST_PALETTE_ENTRIES = 215, // 1024-byte buffer or null
    REQUEST_COLOUR_TABLE = 216,    // 1024-byte buffer or null
};

// Window messages of the server.
enum : uint32_t {
    ASYNC_DECODE = 1125, // lParam: the server's AsyncDecodeRequest copy
    IDLE_MESSAGE = 1126,
    ABORT_DECODE = 1127, // ends the innermost byte-source wait
};

// The decoder's interface records, shared with the server and the plug-in.
// All fields are 32 bits wide on the wire (pointers are 32-bit flat addresses
// there); on 64-bit builds pointers keep their native width.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec/core/bit_reader.h"

struct DecodeSession;

struct StreamSource {
    const uint8_t* data; // bytes received so far
    int32_t size;        // bytes available at data; raised as more arrive
    uint32_t reserved;
    int32_t position;    // read position of the streaming byte source
};

struct DecodeOptions {
    uint32_t exactSteps;
    uint32_t halfSize;
    ByteSourceFn byteSource;   // null: the stream is wholly in memory
    void* sourceContext;
    // 1 switches sharpening on. A streaming request stores the client's
    // byteSource value here, so the field is pointer-sized.
    uintptr_t sharpen;
    void* savedContext;
};

// FrameInfo.format: the layouts frame delivery converts to; any other value
// hands over the pixel block as it is.
enum : uint32_t { FRAME_FORMAT_BITMAP = 1, FRAME_FORMAT_PALETTE = 3 };

// Status of a frame conversion or request that cannot have global memory.
enum : int32_t { ZR_NO_GLOBAL_MEMORY = 102 };

struct FrameInfo {
    uint8_t* pixels;
    int32_t height;
    int32_t width;
    uint32_t bitsPerPixel;
    uint32_t isColour;
    int32_t partHeight;
    int32_t partWidth;
    DecodeSession* session;
    uint32_t format;
    void* frameMemory;         // global memory handle
};

#define ZR_ASSERT_FIELD(type, field, offset) \
    static_assert(sizeof(void*) != 4 || offsetof(type, field) == (offset), #type "." #field " offset")

static_assert(sizeof(void*) != 4 || sizeof(StreamSource) == 16, "StreamSource is 16 bytes");
ZR_ASSERT_FIELD(StreamSource, data, 0);
ZR_ASSERT_FIELD(StreamSource, size, 4);
ZR_ASSERT_FIELD(StreamSource, reserved, 8);
ZR_ASSERT_FIELD(StreamSource, position, 12);

static_assert(sizeof(void*) != 4 || sizeof(DecodeOptions) == 24, "DecodeOptions is 24 bytes");
ZR_ASSERT_FIELD(DecodeOptions, exactSteps, 0);
ZR_ASSERT_FIELD(DecodeOptions, halfSize, 4);
ZR_ASSERT_FIELD(DecodeOptions, byteSource, 8);
ZR_ASSERT_FIELD(DecodeOptions, sourceContext, 12);
ZR_ASSERT_FIELD(DecodeOptions, sharpen, 16);
ZR_ASSERT_FIELD(DecodeOptions, savedContext, 20);

static_assert(sizeof(void*) != 4 || sizeof(FrameInfo) == 40, "FrameInfo is 40 bytes");
ZR_ASSERT_FIELD(FrameInfo, pixels, 0);
ZR_ASSERT_FIELD(FrameInfo, height, 4);
ZR_ASSERT_FIELD(FrameInfo, width, 8);
ZR_ASSERT_FIELD(FrameInfo, bitsPerPixel, 12);
ZR_ASSERT_FIELD(FrameInfo, isColour, 16);
ZR_ASSERT_FIELD(FrameInfo, partHeight, 20);
ZR_ASSERT_FIELD(FrameInfo, partWidth, 24);
ZR_ASSERT_FIELD(FrameInfo, session, 28);
ZR_ASSERT_FIELD(FrameInfo, format, 32);
ZR_ASSERT_FIELD(FrameInfo, frameMemory, 36);

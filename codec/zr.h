// Decoding ZR pictures from a program.
//
// A stream wholly in memory:
//
//     ZrPicture picture;
//     int32_t status = zrDecode(bytes, size, NULL, &picture);
//     if (status == 0) { ... picture.pixels ... }
//     zrFree(&picture);
//
// A stream that arrives piece by piece: fill a ZrStream with a read function
// (it may block until more bytes arrive) and, for partial pictures, an
// interval and a hook, then call zrDecodeStream. The hook sees coarse but
// whole pictures of a level-progressive stream while it is still arriving.
//
// Pixels are rows top to bottom, unpadded: three bytes (red, green, blue) per
// pixel for colour, one byte for grey of 8 bits, two bytes (low byte first)
// for deeper grey. A stream that ends early is not an error: the picture
// decoded so far is finished and returned with status 0.
//
// Status codes: 0 success, 1 not a ZR stream, 2 unsupported version,
// 3 unsupported mode or coder combination, 8 out of memory, 16 unsupported
// sample depth. zrStatusText names them.
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Optional decoding requests; a null request means all zero.
typedef struct ZrRequest {
    uint32_t exactSteps; // nonzero: dequantise with exact sub-steps
    uint32_t halfSize;   // nonzero: low-memory decoding (the picture keeps its size)
    uint32_t sharpen;    // 1: sharpen before the last level
} ZrRequest;

typedef struct ZrPicture {
    uint8_t* pixels;       // null when the stream was refused; release with zrFree
    int32_t height;        // filled from the header also when refused
    int32_t width;
    int32_t channels;      // 3 colour (RGB), 1 grey
    int32_t bitsPerSample; // 8 for colour; 8 to 16 for grey
    int32_t bitsPerPixel;  // 24 for colour, else bitsPerSample
    int32_t bytesPerPixel; // 3, 1, or 2 for grey deeper than 8 bits
} ZrPicture;

// A picture of the decode in progress: the region of the current level,
// partHeight rows of partWidth pixels in the layout above.
typedef struct ZrPartial {
    const uint8_t* pixels; // valid during the hook call only
    int32_t partHeight;
    int32_t partWidth;
    int32_t height;        // the whole picture
    int32_t width;
    int32_t channels;
    int32_t bitsPerSample;
    int32_t bytesPerPixel;
    int32_t position;      // stream position of the byte about to be delivered
} ZrPartial;

// Stores up to `size` bytes at `data` and returns how many; 0 (or a negative
// value) when no more will come. May block.
typedef int32_t (*ZrReadFn)(void* context, uint8_t* data, int32_t size);
// Receives a partial picture. Returns 0 to go on; nonzero ends the stream
// there, and the picture decoded so far becomes the result.
typedef int32_t (*ZrPartialFn)(void* context, const ZrPartial* partial);

typedef struct ZrStream {
    ZrReadFn read;
    void* readContext;
    // With an interval N > 0, a partial picture is asked for every time the
    // decoder needs a byte whose position p has p mod N = N - 1, including the
    // request that finds the end of the stream. Only level-progressive streams
    // have partial pictures, and only once their coarsest level is read.
    int32_t partialInterval;
    ZrPartialFn partial;   // may be null
    void* partialContext;
} ZrStream;

// Decodes `size` bytes at `data`. Fills *picture and returns the status.
int32_t zrDecode(const uint8_t* data, size_t size, const ZrRequest* request, ZrPicture* picture);

// Decodes a stream from stream->read, offering partial pictures on the way.
int32_t zrDecodeStream(const ZrStream* stream, const ZrRequest* request, ZrPicture* picture);

// Reads only the header: fills the sizes and the pixel format of *picture
// (pixels stays null) and returns the status a decode would refuse with, or 0.
int32_t zrInfo(const uint8_t* data, size_t size, ZrPicture* picture);

// Releases the pixels of a decoded picture; a picture without pixels is fine.
void zrFree(ZrPicture* picture);

// A short English name for a status code.
const char* zrStatusText(int32_t status);

#ifdef __cplusplus
}
#endif

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
// What a stream may make the decoder allocate is bounded per decode: by
// default ZR_DEFAULT_MAX_MEMORY bytes for the picture and the decoder's models
// together; ZrRequest.maxMemory raises or lowers it. A declared picture beyond
// the bound is refused with ZR_STATUS_OUT_OF_MEMORY before anything is
// allocated, and a model that outgrows it ends the decode with the same status.
// No input ends the calling process.
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Status codes; zrStatusText names them.
#define ZR_STATUS_OK 0
#define ZR_STATUS_NOT_ZR 1             // not a ZR stream
#define ZR_STATUS_BAD_VERSION 2        // unsupported version
#define ZR_STATUS_UNSUPPORTED 3        // unsupported mode or coder combination, or too small
#define ZR_STATUS_OUT_OF_MEMORY 8      // out of memory, or beyond the request's limits
#define ZR_STATUS_NO_PARTIAL 11        // no partial picture in one-pass mode
#define ZR_STATUS_NOT_READY 12         // no partial picture ready yet
#define ZR_STATUS_NO_DECODE 15         // no decode in progress
#define ZR_STATUS_BAD_DEPTH 16         // unsupported sample depth
#define ZR_STATUS_BAD_ARGUMENT 20      // a required argument is null
#define ZR_STATUS_FINISHED 21          // incremental decoding: the picture is complete
#define ZR_STATUS_NEED_MORE_DATA 22    // incremental decoding: give more bytes

// The memory bound of a decode whose request leaves maxMemory at 0: 1 GiB.
#define ZR_DEFAULT_MAX_MEMORY ((uint64_t)1 << 30)

// Added to ZrRequest.threads: use the second thread also where it does not pay.
#define ZR_THREADS_ALWAYS 0x80000000u

// Optional decoding requests; a null request means all zero.
typedef struct ZrRequest {
    uint32_t exactSteps; // nonzero: dequantise with exact sub-steps
    uint32_t lowMemory;  // nonzero: low-memory decoding (same picture size, less memory, a little less quality)
    uint32_t sharpen;    // 1: sharpen before the last level
    uint32_t threads;    // 0 or 1: decode on the calling thread alone; 2 or more: reconstruct
                         // on a second thread as well where the picture is large enough for
                         // it to pay (the same picture, sooner); with ZR_THREADS_ALWAYS added,
                         // whatever the picture
    uint64_t maxPixels;  // largest height x width to decode; 0: no bound besides memory
    uint64_t maxMemory;  // bytes the decode may allocate; 0: ZR_DEFAULT_MAX_MEMORY
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

// Decodes `size` bytes at `data`. Fills *picture and returns the status;
// pixels are set only with status 0. ZR_STATUS_BAD_ARGUMENT for a null
// picture, or null data with a nonzero size.
int32_t zrDecode(const uint8_t* data, size_t size, const ZrRequest* request, ZrPicture* picture);

// Decodes a stream from stream->read, offering partial pictures on the way.
// ZR_STATUS_BAD_ARGUMENT for a null stream, read function or picture.
int32_t zrDecodeStream(const ZrStream* stream, const ZrRequest* request, ZrPicture* picture);

// Reads only the header: fills the sizes and the pixel format of *picture
// (pixels stays null) and returns the status a decode with a null request
// would refuse with, or 0.
int32_t zrInfo(const uint8_t* data, size_t size, ZrPicture* picture);

// Releases the pixels of a decoded picture; a picture without pixels is fine.
void zrFree(ZrPicture* picture);

// A short English name for a status code.
const char* zrStatusText(int32_t status);

// Incremental decoding: the caller pushes the bytes as they arrive and asks
// what can be shown so far; nothing blocks.
//
//     ZrIncremental* decoder = zrIncrementalNew(NULL, 4096, hook, context);
//     while (more arrives) zrIncrementalAppend(decoder, bytes, size);
//     status = zrIncrementalFinish(decoder, &picture);
//     zrIncrementalFree(decoder);
//
// The decoder runs on the calling thread, between the calls; one decoder must
// not be used from two threads at once. Besides a small copy of the header,
// each byte is copied once. Appended blocks need not outlive the call.
typedef struct ZrIncremental ZrIncremental;

// Creates a decoder. request may be null (all zero). With partialInterval
// N > 0 and a non-null hook, partial pictures are offered exactly as
// zrDecodeStream offers them with the same interval (same stream positions,
// same pixels); with N > 0 and a null hook they are made all the same, for
// zrIncrementalLatest. Returns null only when out of memory.
//
// The hook runs on the calling thread from inside zrIncrementalAppend or
// zrIncrementalFinish; its pixels stay valid until the next call on the
// decoder. A nonzero answer ends the stream there, as with zrDecodeStream:
// later bytes are ignored and zrIncrementalFinish gives the picture decoded so
// far. From the hook, zrIncrementalInfo and zrIncrementalLatest may be called;
// zrIncrementalAppend and zrIncrementalFinish return ZR_STATUS_BAD_ARGUMENT;
// zrIncrementalFree ends the stream and releases the decoder once the hook
// has returned.
ZrIncremental* zrIncrementalNew(const ZrRequest* request, int32_t partialInterval,
                                ZrPartialFn partial, void* partialContext);

// Hands over the next `size` bytes (any chunk size, 0 allowed). Decodes as
// far as the bytes allow, never waits for more, and calls the hook for every
// partial picture that became due. Returns 0; the refusal status once the
// stream is refused (1, 2, 3, 8, 16; later calls return it too);
// ZR_STATUS_FINISHED after zrIncrementalFinish; ZR_STATUS_BAD_ARGUMENT for a
// null decoder, or null data with size > 0. Bytes after the end of the
// picture are accepted and ignored.
int32_t zrIncrementalAppend(ZrIncremental* decoder, const uint8_t* data, size_t size);

// The header's fields once read: fills *info (pixels null) and returns 0;
// ZR_STATUS_NEED_MORE_DATA before the header is complete; the refusal status
// (with the fields read) if refused; ZR_STATUS_BAD_ARGUMENT for null arguments.
int32_t zrIncrementalInfo(const ZrIncremental* decoder, ZrPicture* info);

// The newest partial picture offered so far (pixels valid until the next
// call on this decoder other than Info and Latest); ZR_STATUS_NOT_READY when
// there is none yet; ZR_STATUS_BAD_ARGUMENT for null arguments.
int32_t zrIncrementalLatest(const ZrIncremental* decoder, ZrPartial* partial);

// The stream has ended: decodes the rest (offering the partial picture that
// the request finding the end of the stream is due, as zrDecodeStream does)
// and fills *picture exactly as zrDecode does on all the bytes appended;
// release it with zrFree. A second call returns ZR_STATUS_FINISHED;
// ZR_STATUS_BAD_ARGUMENT for null arguments.
int32_t zrIncrementalFinish(ZrIncremental* decoder, ZrPicture* picture);

// Releases the decoder; an unfinished decode is abandoned. Null is fine.
void zrIncrementalFree(ZrIncremental* decoder);

#ifdef __cplusplus
}
#endif

// The public embedding interface over decodeStart and decodeContinue.
#include "codec/zr.h"

#include <climits>
#include <cstring>

#include "codec/core/alloc.h"
#include "codec/decoder/decoder.h"
#include "codec/session/session.h"
#include "codec/session/stream_header.h"

static_assert(ZR_STATUS_OK == ZR_OK && ZR_STATUS_NOT_ZR == ZR_BAD_MAGIC && ZR_STATUS_BAD_VERSION == ZR_BAD_VERSION
              && ZR_STATUS_UNSUPPORTED == ZR_UNSUPPORTED_CODER && ZR_STATUS_OUT_OF_MEMORY == ZR_OUT_OF_MEMORY
              && ZR_STATUS_NO_PARTIAL == ZR_NO_PARTIAL_ONE_PASS && ZR_STATUS_NOT_READY == ZR_NO_PARTIAL_YET
              && ZR_STATUS_NO_DECODE == ZR_NO_DECODE && ZR_STATUS_BAD_DEPTH == ZR_BAD_SAMPLE_DEPTH,
              "public status codes are the decoder's");

namespace {

const int32_t kReadChunk = 4096;

// State of the byte source that zrDecodeStream hands to the decoder.
struct StreamFeed {
    const ZrStream* stream;
    FrameInfo* frame;
    int32_t position;  // position of the next byte to deliver
    int32_t ended;     // the stream ended (read gave nothing, or the hook said so)
    int32_t next;      // next unread byte of `chunk`
    int32_t filled;    // bytes in `chunk`
    uint8_t chunk[kReadChunk];
};

void describe(ZrPicture* picture, const FrameInfo& frame)
{
    picture->pixels = frame.pixels;
    picture->height = frame.height;
    picture->width = frame.width;
    picture->channels = frame.isColour ? 3 : 1;
    picture->bitsPerSample = frame.isColour ? 8 : int32_t(frame.bitsPerPixel);
    picture->bitsPerPixel = int32_t(frame.bitsPerPixel);
    picture->bytesPerPixel = frame.isColour ? 3 : (frame.bitsPerPixel > 8 ? 2 : 1);
}

void setOptions(DecodeOptions* options, DecodeLimits* limits, const ZrRequest* request)
{
    std::memset(options, 0, sizeof *options);
    limits->memoryBytes = ZR_DEFAULT_MAX_MEMORY;
    limits->pixels = 0;
    limits->threads = 0;
    limits->threadsAlways = 0;
    if (request) {
        options->exactSteps = request->exactSteps;
        options->halfSize = request->lowMemory;
        options->sharpen = request->sharpen;
        if (request->maxMemory != 0)
            limits->memoryBytes = request->maxMemory;
        limits->pixels = request->maxPixels;
        uint32_t threads = request->threads & ~ZR_THREADS_ALWAYS;
        limits->threads = int32_t(threads > 256 ? 256 : threads);
        limits->threadsAlways = (request->threads & ZR_THREADS_ALWAYS) != 0;
    }
}

// The decoder hands out its pixel block also when it ends with an error.
int32_t finish(int32_t status, FrameInfo* frame, ZrPicture* picture)
{
    if (status != ZR_OK)
        decodeFree(frame);
    describe(picture, *frame);
    return status;
}

void offerPartial(StreamFeed* feed)
{
    FrameInfo* frame = feed->frame;
    if (decodeContinue(frame) != ZR_OK || !frame->pixels)
        return;
    ZrPicture format;
    describe(&format, *frame);
    ZrPartial partial;
    partial.pixels = frame->pixels;
    partial.partHeight = frame->partHeight;
    partial.partWidth = frame->partWidth;
    partial.height = frame->height;
    partial.width = frame->width;
    partial.channels = format.channels;
    partial.bitsPerSample = format.bitsPerSample;
    partial.bytesPerPixel = format.bytesPerPixel;
    partial.position = feed->position;
    // The block belongs to the running decode; decodeStart hands it out at the end.
    frame->pixels = nullptr;
    if (feed->stream->partial(feed->stream->partialContext, &partial) != 0)
        feed->ended = 1;
}

// The decoder's byte source: offers a partial picture when the position of
// the byte about to be delivered asks for one, then hands over the bytes up
// to the next such position (at most the rest of the chunk). The decoder reads
// a block only as it needs its bytes, so it is where a byte-by-byte source
// would have it at every offer.
int32_t feedBlock(void* context, const uint8_t** data)
{
    StreamFeed* feed = static_cast<StreamFeed*>(context);
    const ZrStream* stream = feed->stream;
    const int32_t interval = stream->partialInterval;
    const bool offers = interval > 0 && stream->partial;
    if (!feed->ended && offers && feed->position % interval == interval - 1)
        offerPartial(feed);
    if (feed->ended)
        return 0;
    if (feed->next == feed->filled) {
        int32_t got = stream->read ? stream->read(stream->readContext, feed->chunk, kReadChunk) : 0;
        if (got <= 0 || feed->position == INT32_MAX) {
            feed->ended = 1;
            return 0;
        }
        feed->next = 0;
        feed->filled = got < kReadChunk ? got : kReadChunk;
    }
    int32_t n = feed->filled - feed->next;
    if (offers) {
        // Bytes before the next offer; a position that wrapped below 0 gets
        // its first offer at interval - 1, as byte by byte.
        const int64_t r = feed->position % interval;
        const int64_t toOffer = r == interval - 1 ? interval : interval - 1 - r;
        if (toOffer < n)
            n = int32_t(toOffer);
    }
    *data = feed->chunk + feed->next;
    feed->next += n;
    feed->position += n;
    return n;
}

struct MemoryReader {
    const uint8_t* data;
    size_t size;
    size_t offset;
};

int32_t readMemory(void* context, uint8_t* data, int32_t size)
{
    MemoryReader* reader = static_cast<MemoryReader*>(context);
    size_t left = reader->size - reader->offset;
    size_t n = left < size_t(size) ? left : size_t(size);
    if (n > 0)
        std::memcpy(data, reader->data + reader->offset, n);
    reader->offset += n;
    return int32_t(n);
}

} // namespace

int32_t zrDecode(const uint8_t* data, size_t size, const ZrRequest* request, ZrPicture* picture)
{
    if (!picture)
        return ZR_STATUS_BAD_ARGUMENT;
    if (!data && size != 0) {
        std::memset(picture, 0, sizeof *picture);
        return ZR_STATUS_BAD_ARGUMENT;
    }
    if (size > size_t(INT32_MAX)) {
        // Beyond what a stream source can describe: feed it byte by byte instead.
        MemoryReader reader{data, size, 0};
        ZrStream stream{};
        stream.read = readMemory;
        stream.readContext = &reader;
        return zrDecodeStream(&stream, request, picture);
    }
    StreamSource source{};
    source.data = data;
    source.size = int32_t(size);
    DecodeOptions options;
    DecodeLimits limits;
    setOptions(&options, &limits, request);
    FrameInfo frame{};
    return finish(decodeStartWithin(&source, &options, &frame, &limits), &frame, picture);
}

int32_t zrDecodeStream(const ZrStream* stream, const ZrRequest* request, ZrPicture* picture)
{
    if (!picture)
        return ZR_STATUS_BAD_ARGUMENT;
    if (!stream || !stream->read) {
        std::memset(picture, 0, sizeof *picture);
        return ZR_STATUS_BAD_ARGUMENT;
    }
    StreamFeed* feed = static_cast<StreamFeed*>(allocChecked(sizeof(StreamFeed)));
    if (!feed) {
        std::memset(picture, 0, sizeof *picture);
        return ZR_OUT_OF_MEMORY;
    }
    StreamSource source{};
    DecodeOptions options;
    DecodeLimits limits;
    setOptions(&options, &limits, request);
    FrameInfo frame{};
    feed->stream = stream;
    feed->frame = &frame;
    feed->position = 0;
    feed->ended = 0;
    feed->next = 0;
    feed->filled = 0;
    options.sourceContext = feed;
    int32_t status = decodeStartWithin(&source, &options, &frame, &limits, feedBlock);
    freeChecked(feed);
    return finish(status, &frame, picture);
}

int32_t zrInfo(const uint8_t* data, size_t size, ZrPicture* picture)
{
    if (!picture)
        return ZR_STATUS_BAD_ARGUMENT;
    std::memset(picture, 0, sizeof *picture);
    if (!data && size != 0)
        return ZR_STATUS_BAD_ARGUMENT;
    BitReader* bits = createBitReader(0);
    DecodeSession* session = static_cast<DecodeSession*>(allocChecked(sizeof(DecodeSession)));
    if (!bits || !session) {
        releaseBitReader(bits);
        freeChecked(session);
        return ZR_OUT_OF_MEMORY;
    }
    bits->buffer = const_cast<uint8_t*>(data);
    resetBitReader(bits);
    bits->byteCount = data ? int32_t(size > size_t(INT32_MAX) ? INT32_MAX : size) : 0;
    std::memset(session, 0, sizeof *session);
    session->bits = bits;

    DecodeOptions options;
    DecodeLimits limits;
    setOptions(&options, &limits, nullptr);
    setDecodeLimits(session, &limits);
    int32_t status = admitStreamHeader(session);
    if (status != ZR_BAD_MAGIC) {
        FrameInfo frame{};
        frame.height = session->height;
        frame.width = session->width;
        frame.isColour = session->components == 3 ? 1 : 0;
        frame.bitsPerPixel = session->components == 3 ? 24u : uint32_t(session->bitsPerSample);
        describe(picture, frame);
    }
    releaseBitReader(bits);
    freeChecked(session);
    return status;
}

void zrFree(ZrPicture* picture)
{
    if (picture && picture->pixels) {
        freeChecked(picture->pixels);
        picture->pixels = nullptr;
    }
}

const char* zrStatusText(int32_t status)
{
    switch (status) {
    case ZR_OK: return "success";
    case ZR_BAD_MAGIC: return "not a ZR stream";
    case ZR_BAD_VERSION: return "unsupported version";
    case ZR_UNSUPPORTED_CODER: return "unsupported mode or coder combination";
    case ZR_OUT_OF_MEMORY: return "out of memory";
    case ZR_NO_PARTIAL_ONE_PASS: return "no partial picture in one-pass mode";
    case ZR_NO_PARTIAL_YET: return "no partial picture ready";
    case ZR_NO_DECODE: return "no decode in progress";
    case ZR_BAD_SAMPLE_DEPTH: return "unsupported sample depth";
    case ZR_STATUS_BAD_ARGUMENT: return "bad argument";
    case ZR_STATUS_FINISHED: return "decode finished";
    case ZR_STATUS_NEED_MORE_DATA: return "more data needed";
    default: return "unknown status";
    }
}

#include "codec/decoder/decoder.h"

#include <cstring>

#include "codec/core/alloc.h"
#include "codec/progressive/level_progressive_driver.h"

namespace {

void describeFrame(FrameInfo* frame, int32_t height, int32_t width, int32_t bitsPerSample, int32_t components)
{
    frame->height = height;
    frame->width = width;
    frame->bitsPerPixel = components == 3 ? 24u : static_cast<uint32_t>(bitsPerSample);
    frame->isColour = components == 3 ? 1u : 0u;
}

} // namespace

void setDecodeLimits(DecodeSession* session, const DecodeLimits* limits)
{
    if (limits) {
        uint64_t memory = limits->memoryBytes;
        session->budget.limit = memory != 0 && memory < allocLimit() ? static_cast<size_t>(memory) : allocLimit();
        session->pixelLimit = limits->pixels;
        session->threads = limits->threads;
        session->threadsAlways = limits->threadsAlways;
    } else {
        session->budget.limit = allocLimit();
        session->budget.exitOnFailure = 1;
    }
}

int32_t decodeStart(StreamSource* source, DecodeOptions* options, FrameInfo* frame)
{
    return decodeStartWithin(source, options, frame, nullptr);
}

int32_t decodeStartWithin(StreamSource* source, DecodeOptions* options, FrameInfo* frame,
                          const DecodeLimits* limits, ByteBlockFn blockSource)
{
    frame->pixels = nullptr;

    BitReader* bits = createBitReader(0);
    if (!bits)
        return ZR_OUT_OF_MEMORY;
    if (blockSource) {
        resetBitReader(bits);
        bits->byteCount = source->size;
        attachBlockSource(bits, blockSource, options->sourceContext);
    } else if (!options->byteSource) {
        bits->buffer = const_cast<uint8_t*>(source->data);
        resetBitReader(bits);
        // A block without an address has nothing to read.
        bits->byteCount = source->data ? source->size : 0;
    } else {
        resetBitReader(bits);
        bits->byteCount = source->size;
        attachByteSource(bits, options->byteSource, options->sourceContext);
    }

    DecodeSession* session = static_cast<DecodeSession*>(allocChecked(sizeof(DecodeSession)));
    if (!session) {
        releaseBitReader(bits);
        return ZR_OUT_OF_MEMORY;
    }
    std::memset(session, 0, sizeof *session);
    session->bits = bits;
    session->sharpen = options->sharpen == 1 ? 1 : 0;
    session->exactSteps = options->exactSteps;
    session->halfSize = options->halfSize;
    setDecodeLimits(session, limits);

    frame->session = session;
    streamDecode(session);
    frame->session = nullptr;

    frame->pixels = takePixelBlock(session->pixelPlanes, session->components);
    session->pixelPlanes = nullptr;
    describeFrame(frame, session->height, session->width, session->bitsPerSample, session->components);
    frame->partHeight = session->height;
    frame->partWidth = session->width;

    int32_t status = session->status;
    releaseBitReader(bits);
    freeChecked(session);
    return status;
}

int32_t decodeContinue(FrameInfo* frame)
{
    if (!frame || !frame->session)
        return ZR_NO_DECODE;
    DecodeSession* session = frame->session;
    int32_t height = 0, width = 0, partHeight = 0, partWidth = 0, bitsPerSample = 0, components = 0;
    uint8_t* pixels = partialPicture(session, &height, &width, &partHeight, &partWidth,
                                     &bitsPerSample, &components);
    if (pixels) {
        frame->pixels = pixels;
        describeFrame(frame, height, width, bitsPerSample, components);
        frame->partHeight = partHeight;
        frame->partWidth = partWidth;
    }
    int32_t status = session->status;
    if (status == ZR_NO_PARTIAL_ONE_PASS || status == ZR_NO_PARTIAL_YET)
        session->status = ZR_OK;
    return status;
}

void decodeFree(FrameInfo* frame)
{
    if (frame && frame->pixels) {
        freeChecked(frame->pixels);
        frame->pixels = nullptr;
    }
}

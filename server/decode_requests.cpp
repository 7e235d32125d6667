#include "server/decode_requests.h"

#include <cstdlib>

#include "bridge/zr32ut.h"
#include "codec/decoder/decoder.h"
#include "codec/session/session.h"
#include "platform/windows_api.h"
#include "server/frame_delivery.h"

// A streaming request keeps the client's byteSource in the sharpen field and
// its context in savedContext; the server's forwarder reads the stream.
static void redirectToByteSource(StreamSource* source, DecodeOptions* options,
                                 AsyncDecodeRequest* context)
{
    options->sharpen = reinterpret_cast<uintptr_t>(options->byteSource);
    options->savedContext = options->sourceContext;
    options->byteSource = _ZrDecompressCBFunc;
    options->sourceContext = context;
    source->position = 0;
}

int32_t decodeAndConvert(StreamSource* source, DecodeOptions* options, FrameInfo* frame,
                         AsyncDecodeRequest* context)
{
    int32_t status;
    if (options->byteSource && !context) {
        // A synchronous request cannot wait for bytes: decode what is there.
        DecodeOptions inMemory = *options;
        inMemory.byteSource = nullptr;
        inMemory.sourceContext = nullptr;
        status = decodeStart(source, &inMemory, frame);
    } else {
        if (options->byteSource)
            redirectToByteSource(source, options, context);
        status = decodeStart(source, options, frame);
    }
    if (status != ZR_OK) {
        decodeFree(frame);
        return status;
    }
    if (convertFrame(frame, frame->width, frame->height) != 0) {
        decodeFree(frame);
        return ZR_NO_GLOBAL_MEMORY;
    }
    decodeFree(frame);
    GlobalUnlock(frame->frameMemory);
    return ZR_OK;
}

int32_t asyncDecode(AsyncDecodeRequest* request)
{
    FrameInfo* frame = request->frame;
    int32_t status = decodeAndConvert(request->source, request->options, frame, request);
    dispImageProg(request->options, 1);
    if (frame->frameMemory) {
        GlobalFree(frame->frameMemory);
        frame->pixels = nullptr;
        frame->frameMemory = nullptr;
    }
    std::free(request);
    return status;
}

int32_t partialFrame(FrameInfo* frame)
{
    int32_t status = decodeContinue(frame);
    if (status != ZR_OK)
        return status;
    if (convertFrame(frame, frame->partWidth, frame->partHeight) != 0)
        return ZR_NO_GLOBAL_MEMORY;
    GlobalUnlock(frame->frameMemory);
    return ZR_OK;
}

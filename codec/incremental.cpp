// Push-style incremental decoding (zrIncremental* in codec/zr.h).
//
// The sequential decoder (zrDecodeStream) runs on a coroutine of the calling
// thread (codec/fiber.h). Its read function hands over the bytes of the
// append in progress and, when they are used up, suspends the coroutine until
// the next append or the finish; its partial-picture hook copies the picture
// and suspends so that the caller's hook runs on the caller's own stack. The
// header is read first on its own, keeping its bytes: a stream refused there
// never reaches the decoder, and one that ends inside its header is decoded
// from those bytes as zrDecode decodes them.
//
// WebAssembly (emscripten, no threads): fiber.cpp switches with emscripten's
// fibers, which need Asyncify. Sources: every .cpp under codec/ except
// codec/encoder/ (zr.cpp, incremental.cpp, fiber.cpp and the decoder's
// folders). Flags:
//     compile: -std=c++20 -fwrapv -O2 -I<repository root>
//     link:    -sASYNCIFY -sALLOW_MEMORY_GROWTH=1 --post-js codec/fiber_returns.js
//              -sEXPORTED_FUNCTIONS=_zrIncrementalNew,_zrIncrementalAppend,... ,_malloc,_free
//              -sALLOW_TABLE_GROWTH=1 and addFunction for a JavaScript hook
// JavaScript that calls these exports itself needs fiber_returns.js, or it
// receives wrong statuses from calls that ran the decoder (no --closure then:
// it renames what that file patches); a C layer that leaves the results in
// memory for JavaScript, as web/wasm does, needs neither. Under node add -sWASM_ASYNC_COMPILATION=0 or -sSINGLE_FILE=1 (this
// emscripten fetches the .wasm by a path node's fetch refuses).
// tests/codec/wasm/emcc_smoke.sh builds and runs an example.
#include <cstring>

#include "codec/core/alloc.h"
#include "codec/core/bit_reader.h"
#include "codec/session/session.h"
#include "codec/session/stream_header.h"
#include "codec/fiber.h"
#include "codec/zr.h"

namespace {

enum Stage : int32_t {
    STAGE_HEADER,    // reading the header
    STAGE_DECODING,  // the header was accepted; zrDecodeStream runs
    STAGE_DONE,      // the coroutine has returned
};

} // namespace

struct ZrIncremental {
    ZrRequest request;
    int32_t interval;
    ZrPartialFn hook;
    void* hookContext;
    Fiber* fiber;
    int32_t stage;

    // The block of the append in progress.
    const uint8_t* data;
    size_t size;
    size_t offset;
    int32_t ending;          // no more bytes will come (finish or free)

    // The header's bytes, kept until the decoder has taken them again.
    uint8_t* header;
    size_t headerSize;
    size_t headerCapacity;
    size_t headerReplayed;
    int32_t headerStatus;    // ZR_STATUS_NEED_MORE_DATA until the header is read
    int32_t headerCut;       // the stream ended inside the header
    ZrPicture info;

    ZrPicture result;
    int32_t resultStatus;
    int32_t decoded;         // zrDecodeStream has returned
    int32_t finished;

    ZrPartial latest;
    uint8_t* latestPixels;
    size_t latestCapacity;
    int32_t haveLatest;
    int32_t partialWaiting;  // the coroutine waits for the caller's hook
    int32_t hookAnswer;
    int32_t inHook;
    int32_t freeRequested;
};

namespace {

// Waits until the append in progress has a byte left; false once no more
// bytes will come.
bool awaitBytes(ZrIncremental* decoder)
{
    while (decoder->offset == decoder->size) {
        if (decoder->ending)
            return false;
        fiberSuspend(decoder->fiber);
    }
    return true;
}

bool keepHeaderByte(ZrIncremental* decoder, uint8_t byte)
{
    if (decoder->headerSize == decoder->headerCapacity) {
        size_t capacity = decoder->headerCapacity ? decoder->headerCapacity * 2 : 64;
        uint8_t* grown = static_cast<uint8_t*>(allocChecked(capacity));
        if (!grown)
            return false;
        if (decoder->headerSize)
            std::memcpy(grown, decoder->header, decoder->headerSize);
        freeChecked(decoder->header);
        decoder->header = grown;
        decoder->headerCapacity = capacity;
    }
    decoder->header[decoder->headerSize++] = byte;
    return true;
}

int32_t headerByte(void* context, uint32_t* slot)
{
    ZrIncremental* decoder = static_cast<ZrIncremental*>(context);
    if (!awaitBytes(decoder))
        return 1;
    uint8_t byte = decoder->data[decoder->offset];
    if (!keepHeaderByte(decoder, byte)) {
        decoder->headerStatus = ZR_STATUS_OUT_OF_MEMORY;
        return 1;
    }
    decoder->offset++;
    *slot = byte;
    return 0;
}

// Reads the header from the arriving bytes; sets headerStatus, or headerCut
// when the stream ended first.
void readHeader(ZrIncremental* decoder)
{
    BitReader* bits = createBitReader(0);
    DecodeSession* session = static_cast<DecodeSession*>(allocChecked(sizeof(DecodeSession)));
    if (!bits || !session) {
        releaseBitReader(bits);
        freeChecked(session);
        decoder->headerStatus = ZR_STATUS_OUT_OF_MEMORY;
        return;
    }
    attachByteSource(bits, headerByte, decoder);
    std::memset(session, 0, sizeof *session);
    session->bits = bits;
    int32_t status = readStreamHeader(session);
    if (decoder->headerStatus == ZR_STATUS_OUT_OF_MEMORY) {
        // Keeping a byte failed; the status stands.
    } else if (bits->endOfData) {
        decoder->headerCut = 1;
    } else {
        if (status == ZR_STATUS_OK)
            status = checkStreamHeader(session);
        decoder->headerStatus = status;
        // The decode refuses what its request does not allow on its own.
        zrInfo(decoder->header, decoder->headerSize, &decoder->info);
    }
    releaseBitReader(bits);
    freeChecked(session);
}

int32_t decoderRead(void* context, uint8_t* data, int32_t size)
{
    ZrIncremental* decoder = static_cast<ZrIncremental*>(context);
    size_t wanted = size > 0 ? size_t(size) : 0;
    size_t kept = decoder->headerSize - decoder->headerReplayed;
    if (kept > 0) {
        size_t n = kept < wanted ? kept : wanted;
        std::memcpy(data, decoder->header + decoder->headerReplayed, n);
        decoder->headerReplayed += n;
        return int32_t(n);
    }
    if (!awaitBytes(decoder))
        return 0;
    size_t left = decoder->size - decoder->offset;
    size_t n = left < wanted ? left : wanted;
    std::memcpy(data, decoder->data + decoder->offset, n);
    decoder->offset += n;
    return int32_t(n);
}

bool keepPartial(ZrIncremental* decoder, const ZrPartial* partial)
{
    size_t bytes = size_t(partial->partHeight) * size_t(partial->partWidth) * size_t(partial->bytesPerPixel);
    if (bytes > decoder->latestCapacity) {
        // Sized for the whole picture once, so that later levels fit.
        size_t whole = size_t(partial->height) * size_t(partial->width) * size_t(partial->bytesPerPixel);
        size_t capacity = whole > bytes ? whole : bytes;
        uint8_t* block = static_cast<uint8_t*>(allocChecked(capacity));
        if (!block)
            return false;
        freeChecked(decoder->latestPixels);
        decoder->latestPixels = block;
        decoder->latestCapacity = capacity;
    }
    if (bytes)
        std::memcpy(decoder->latestPixels, partial->pixels, bytes);
    decoder->latest = *partial;
    decoder->latest.pixels = decoder->latestPixels;
    decoder->haveLatest = 1;
    return true;
}

int32_t decoderPartial(void* context, const ZrPartial* partial)
{
    ZrIncremental* decoder = static_cast<ZrIncremental*>(context);
    if (decoder->ending && decoder->freeRequested)
        return 1;
    // Without a copy there is nothing to show; the decode goes on.
    if (!keepPartial(decoder, partial) || !decoder->hook)
        return 0;
    decoder->partialWaiting = 1;
    fiberSuspend(decoder->fiber);
    return decoder->hookAnswer;
}

void runDecoder(Fiber*, void* argument)
{
    ZrIncremental* decoder = static_cast<ZrIncremental*>(argument);
    readHeader(decoder);
    if (decoder->headerStatus != ZR_STATUS_OK)
        return;
    decoder->stage = STAGE_DECODING;
    ZrStream stream{};
    stream.read = decoderRead;
    stream.readContext = decoder;
    if (decoder->interval > 0) {
        stream.partialInterval = decoder->interval;
        stream.partial = decoderPartial;
        stream.partialContext = decoder;
    }
    decoder->resultStatus = zrDecodeStream(&stream, &decoder->request, &decoder->result);
    decoder->decoded = 1;
    // The header's bytes went to the decoder; they are kept only for a cut header.
    freeChecked(decoder->header);
    decoder->header = nullptr;
    decoder->headerSize = decoder->headerCapacity = decoder->headerReplayed = 0;
}

void release(ZrIncremental* decoder)
{
    fiberFree(decoder->fiber);
    freeChecked(decoder->header);
    freeChecked(decoder->latestPixels);
    zrFree(&decoder->result);
    freeChecked(decoder);
}

// Runs the coroutine until it needs bytes that have not come, or returns;
// the caller's hook sees each partial picture on the way.
void drive(ZrIncremental* decoder)
{
    while (decoder->stage != STAGE_DONE) {
        if (!fiberResume(decoder->fiber)) {
            decoder->stage = STAGE_DONE;
            break;
        }
        if (!decoder->partialWaiting)
            break;
        decoder->partialWaiting = 0;
        decoder->inHook = 1;
        int32_t answer = decoder->hook(decoder->hookContext, &decoder->latest);
        decoder->inHook = 0;
        decoder->hookAnswer = decoder->freeRequested ? 1 : answer;
    }
    decoder->data = nullptr;
    decoder->size = decoder->offset = 0;
}

// The status an append reports: a refusal once known, else 0.
int32_t refusal(const ZrIncremental* decoder)
{
    if (decoder->headerStatus != ZR_STATUS_OK && decoder->headerStatus != ZR_STATUS_NEED_MORE_DATA)
        return decoder->headerStatus;
    if (decoder->decoded && decoder->resultStatus != ZR_STATUS_OK)
        return decoder->resultStatus;
    return ZR_STATUS_OK;
}

} // namespace

ZrIncremental* zrIncrementalNew(const ZrRequest* request, int32_t partialInterval,
                                ZrPartialFn partial, void* partialContext)
{
    ZrIncremental* decoder = static_cast<ZrIncremental*>(allocChecked(sizeof(ZrIncremental)));
    if (!decoder)
        return nullptr;
    std::memset(decoder, 0, sizeof *decoder);
    if (request)
        decoder->request = *request;
    decoder->interval = partialInterval;
    decoder->hook = partial;
    decoder->hookContext = partialContext;
    decoder->stage = STAGE_HEADER;
    decoder->headerStatus = ZR_STATUS_NEED_MORE_DATA;
    decoder->fiber = fiberCreate(runDecoder, decoder);
    if (!decoder->fiber) {
        freeChecked(decoder);
        return nullptr;
    }
    return decoder;
}

int32_t zrIncrementalAppend(ZrIncremental* decoder, const uint8_t* data, size_t size)
{
    if (!decoder || (!data && size > 0) || decoder->inHook)
        return ZR_STATUS_BAD_ARGUMENT;
    if (decoder->finished)
        return ZR_STATUS_FINISHED;
    if (size > 0 && decoder->stage != STAGE_DONE) {
        decoder->data = data;
        decoder->size = size;
        decoder->offset = 0;
        drive(decoder);
    }
    int32_t status = refusal(decoder);
    if (decoder->freeRequested)
        release(decoder);
    return status;
}

int32_t zrIncrementalInfo(const ZrIncremental* decoder, ZrPicture* info)
{
    if (!decoder || !info)
        return ZR_STATUS_BAD_ARGUMENT;
    if (decoder->headerStatus == ZR_STATUS_NEED_MORE_DATA)
        return ZR_STATUS_NEED_MORE_DATA;
    *info = decoder->info;
    info->pixels = nullptr;
    return refusal(decoder);
}

int32_t zrIncrementalLatest(const ZrIncremental* decoder, ZrPartial* partial)
{
    if (!decoder || !partial)
        return ZR_STATUS_BAD_ARGUMENT;
    if (!decoder->haveLatest)
        return ZR_STATUS_NOT_READY;
    *partial = decoder->latest;
    return ZR_STATUS_OK;
}

int32_t zrIncrementalFinish(ZrIncremental* decoder, ZrPicture* picture)
{
    if (!decoder || !picture || decoder->inHook)
        return ZR_STATUS_BAD_ARGUMENT;
    if (decoder->finished)
        return ZR_STATUS_FINISHED;
    decoder->finished = 1;
    decoder->ending = 1;
    drive(decoder);
    int32_t status;
    if (decoder->headerStatus == ZR_STATUS_OUT_OF_MEMORY && !decoder->decoded) {
        // The header's bytes could not be kept.
        std::memset(picture, 0, sizeof *picture);
        status = ZR_STATUS_OUT_OF_MEMORY;
    } else if (decoder->decoded) {
        *picture = decoder->result;
        decoder->result.pixels = nullptr;
        status = decoder->resultStatus;
    } else {
        // Refused or cut inside the header: only the header's bytes were read.
        status = zrDecode(decoder->header, decoder->headerSize, &decoder->request, picture);
    }
    if (decoder->freeRequested)
        release(decoder);
    return status;
}

void zrIncrementalFree(ZrIncremental* decoder)
{
    if (!decoder)
        return;
    if (decoder->inHook) {
        decoder->freeRequested = 1;
        return;
    }
    if (decoder->stage != STAGE_DONE) {
        // Abandoning: the decode runs to its end with no more bytes.
        decoder->ending = 1;
        decoder->freeRequested = 1;
        drive(decoder);
    }
    release(decoder);
}

#include "codec/session/stream_header.h"

#include "codec/core/alloc.h"
#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/session/session.h"

int32_t readStreamHeader(DecodeSession* session)
{
    BitReader* bits = session->bits;
    if (readBits(bits, 8) != 0x5A || readBits(bits, 8) != 0x52)
        return ZR_BAD_MAGIC;

    session->version = static_cast<int32_t>(readBits(bits, 8));
    uint32_t high = readBits(bits, 8);
    session->height = static_cast<int32_t>(high * 256 + readBits(bits, 8));
    high = readBits(bits, 8);
    session->width = static_cast<int32_t>(high * 256 + readBits(bits, 8));
    session->bitsPerSample = static_cast<int32_t>(readBits(bits, 5));
    session->components = readBits(bits, 1) ? 3 : 1;
    int shortStep = static_cast<int>(readBits(bits, 1));
    session->quantStep = readBits(bits, shortStep ? 8 : 16);
    session->decodeMode = static_cast<int32_t>(readBits(bits, 2));
    session->mapCoder = static_cast<int32_t>(readBits(bits, 2));
    session->valueCoder = static_cast<int32_t>(readBits(bits, 2));
    session->fineSteps = readUnary(bits);
    session->contrastStretch = readUnary(bits);
    session->magnitudeBoost = readUnary(bits);
    if (readBits(bits, 1)) {
        session->extension1 = readBits(bits, 8);
        session->extension2 = readBits(bits, 8);
        session->extension3 = readBits(bits, 3);
    }
    if (session->version != 2)
        return ZR_BAD_VERSION;
    return ZR_OK;
}

int32_t checkStreamHeader(DecodeSession* session)
{
    session->levels = levelCount(session->height, session->width);
    if (session->components == 3) {
        if (session->bitsPerSample != 8)
            return ZR_BAD_SAMPLE_DEPTH;
    } else if (session->bitsPerSample < 8 || session->bitsPerSample > 16) {
        return ZR_BAD_SAMPLE_DEPTH;
    }
    if (session->decodeMode > 1)
        return ZR_UNSUPPORTED_CODER;
    if (session->decodeMode == 1 && session->valueCoder == 0 && session->mapCoder == 2)
        return ZR_UNSUPPORTED_CODER;
    // The drivers are not defined for a smaller side under 6.
    if (session->levels < 0)
        return ZR_UNSUPPORTED_CODER;
    return ZR_OK;
}

uint64_t pictureMemoryBytes(const DecodeSession* session)
{
    uint64_t height = static_cast<uint64_t>(session->height);
    uint64_t width = static_cast<uint64_t>(session->width);
    uint64_t planeRows = session->halfSize ? height / 2 + 1 : height;
    uint64_t planeCols = session->halfSize ? width / 2 + 1 : width;
    uint64_t components = static_cast<uint64_t>(session->components);
    uint64_t bytesPerSample = (session->components == 1 && session->bitsPerSample > 8) ? 2 : 1;
    uint64_t planes = components * ((planeRows + 1) * (planeCols + 1) * sizeof(int32_t)
                                    + (planeRows + 1) * sizeof(int32_t*));
    uint64_t pixels = height * width * bytesPerSample * components + components * height * sizeof(uint8_t*);
    return planes + pixels;
}

int32_t admitStreamHeader(DecodeSession* session)
{
    int32_t status = readStreamHeader(session);
    if (status == ZR_OK)
        status = checkStreamHeader(session);
    if (status != ZR_OK)
        return status;
    // Low-memory mode needs 8-bit output, no stretch, and a level-1 grid that
    // holds the lowest band.
    if (session->bitsPerSample > 8 || session->contrastStretch > 0 || session->levels < 1)
        session->halfSize = 0;
    // A declared picture whose whole footprint exceeds the budget is refused
    // before anything is allocated, as the system would otherwise overcommit
    // and be killed while decoding.
    uint64_t pixels = static_cast<uint64_t>(session->height) * static_cast<uint64_t>(session->width);
    if (pictureMemoryBytes(session) > budgetLimit(&session->budget)
        || (session->pixelLimit != 0 && pixels > session->pixelLimit))
        return ZR_OUT_OF_MEMORY;
    return ZR_OK;
}

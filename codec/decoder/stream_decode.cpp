#include "codec/core/alloc.h"
#include "codec/core/array2d.h"
#include "codec/decoder/decoder.h"
#include "codec/core/render.h"
#include "codec/session/stream_header.h"
#include "codec/onepass/one_pass_driver.h"
#include "codec/progressive/level_progressive_driver.h"
#include "codec/recon/recon_queue.h"

void streamDecode(DecodeSession* session)
{
    int32_t status = admitStreamHeader(session);
    if (status != ZR_OK) {
        session->status = status;
        return;
    }
    session->status = ZR_OK;
    session->phase = PHASE_NONE;
    // Each allocation below is checked on its own; the picture's whole
    // footprint was admitted against the budget.
    uint64_t pictureBytes = pictureMemoryBytes(session);
    session->budget.used = static_cast<size_t>(pictureBytes);

    int32_t height = session->height;
    int32_t width = session->width;
    int32_t components = session->components;
    if (session->halfSize)
        session->planes = makePlanes(height / 2 + 1, width / 2 + 1, components);
    else
        session->planes = makePlanes(height, width, components);
    if (!session->planes) {
        session->status = ZR_OUT_OF_MEMORY;
        return;
    }
    int32_t bytesPerSample = (components == 1 && session->bitsPerSample > 8) ? 2 : 1;
    session->pixelPlanes = makePixelArrays(height, bytesPerSample * width, components);
    if (!session->pixelPlanes) {
        freePlanes(session->planes, components);
        session->planes = nullptr;
        session->status = ZR_OUT_OF_MEMORY;
        return;
    }

    // Without a thread to be had the decode stays on this one.
    session->recon = session->threads > 1 ? startReconThread() : nullptr;
    if (session->decodeMode == 1) {
        decodeLevelProgressive(session);
        if (session->status == ZR_NO_PARTIAL_YET)
            session->status = ZR_OK;
    } else {
        session->phase = PHASE_ONE_PASS;
        decodeOnePass(session);
        if (session->status == ZR_NO_PARTIAL_ONE_PASS)
            session->status = ZR_OK;
    }
    stopReconThread(session->recon);
    session->recon = nullptr;
    session->phase = PHASE_DONE;
    if (session->budget.failed)
        session->status = ZR_OUT_OF_MEMORY;

    if (session->status == ZR_OK && session->halfSize == 0) {
        // Without its tone table the pixel block would be left unwritten.
        if (!renderPlanes(session->planes, session->pixelPlanes[0][0], height, width,
                          session->bitsPerSample, components, session->meanLevel,
                          session->contrastStretch))
            session->status = ZR_OUT_OF_MEMORY;
    }
    freePlanes(session->planes, components);
    session->planes = nullptr;
}

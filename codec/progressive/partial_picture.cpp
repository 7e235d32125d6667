// The partial picture of a running level-progressive decode, asked for by
// decodeContinue while the driver waits for bytes.
#include "codec/core/alloc.h"
#include "codec/core/geometry.h"
#include "codec/core/render.h"
#include "codec/session/session.h"
#include "codec/progressive/level_grids.h"
#include "codec/progressive/level_progressive_driver.h"
#include "codec/recon/recon_queue.h"

uint8_t* partialPicture(DecodeSession* session, int32_t* height, int32_t* width, int32_t* partHeight,
                        int32_t* partWidth, int32_t* bitsPerSample, int32_t* components)
{
    if (session->status != ZR_OK && session->status != ZR_NO_PARTIAL_YET)
        return nullptr;
    if (session->phase == PHASE_ONE_PASS) {
        session->status = ZR_NO_PARTIAL_ONE_PASS;
        return nullptr;
    }
    if (session->phase != PHASE_LEVEL_READY && session->phase != PHASE_PIXELS_READY) {
        session->status = ZR_NO_PARTIAL_YET;
        return nullptr;
    }

    // The picture is the one a single thread would have reached here.
    waitForRecon(session->recon);
    if (session->valueCoderState.grids[0])
        flushLevelGrids(session, session->level, true);
    uint8_t* pixels = session->pixelPlanes[0][0];
    if (session->halfSize != 0 && session->level == 0) {
        session->phase = PHASE_PIXELS_READY;
    } else {
        size_t entries = static_cast<size_t>(1) << session->bitsPerSample;
        int16_t* table = static_cast<int16_t*>(allocChecked(entries * sizeof(int16_t)));
        if (!table) {
            session->status = ZR_OUT_OF_MEMORY;
            return nullptr;
        }
        makeToneTable(table, session->bitsPerSample, session->meanLevel, session->contrastStretch);
        renderPartial(session->planes, pixels, session->height, session->width, session->bitsPerSample,
                      session->components, session->level, table);
        freeChecked(table);
    }

    *height = session->height;
    *width = session->width;
    *partHeight = levelSize(session->height, session->level);
    *partWidth = levelSize(session->width, session->level);
    *bitsPerSample = session->bitsPerSample;
    *components = session->components;
    return pixels;
}

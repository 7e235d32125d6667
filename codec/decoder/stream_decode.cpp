#include "codec/core/alloc.h"
#include "codec/core/array2d.h"
#include "codec/decoder/decoder.h"
#include "codec/core/render.h"
#include "codec/session/stream_header.h"
#include "codec/onepass/one_pass_driver.h"
#include "codec/progressive/level_progressive_driver.h"
#include "codec/recon/recon_queue.h"

namespace {

// Rows of the final picture rendered on the reconstruction thread.
struct RenderRows {
    Plane planes[3];
    uint8_t* out;
    int32_t rows;
    const DecodeSession* session;
    bool rendered;
};

void renderRowsTask(void* context, int32_t)
{
    RenderRows* part = static_cast<RenderRows*>(context);
    const DecodeSession* s = part->session;
    part->rendered = renderPlanes(part->planes, part->out, part->rows, s->width, s->bitsPerSample,
                                  s->components, s->meanLevel, s->contrastStretch) != nullptr;
}

void freePlanesTask(void* context, int32_t components)
{
    freePlanes(static_cast<Plane*>(context), components);
}

// The final render; with a reconstruction thread its lower half is rendered
// there at the same time, and the planes are then released there, the last
// work the thread is given, while this thread hands the picture out. False
// when a tone table cannot be allocated.
bool renderFinal(DecodeSession* session)
{
    const int32_t height = session->height;
    const int32_t components = session->components;
    Plane* planes = session->planes;
    uint8_t* pixels = session->pixelPlanes[0][0];
    RenderRows lower{};
    lower.rows = session->recon ? height / 2 : 0;
    const int32_t upper = height - lower.rows;
    if (lower.rows > 0) {
        const size_t rowBytes = static_cast<size_t>(session->width)
                                * (components == 3 ? 3 : session->bitsPerSample > 8 ? 2 : 1);
        for (int32_t c = 0; c < components; c++)
            lower.planes[c] = planes[c] + upper;
        lower.out = pixels + rowBytes * static_cast<size_t>(upper);
        lower.session = session;
        queueReconTask(session->recon, renderRowsTask, &lower, 0);
        publishReconBlock(session->recon);
    }
    const uint64_t lowerRendered = reconMark(session->recon);
    bool rendered = renderPlanes(planes, pixels, upper, session->width, session->bitsPerSample, components,
                                 session->meanLevel, session->contrastStretch) != nullptr;
    if (lower.rows > 0) {
        queueReconTask(session->recon, freePlanesTask, planes, components);
        session->planes = nullptr;
        stopReconThreadAt(session->recon, lowerRendered);
        session->recon = nullptr;
        rendered = rendered && lower.rendered;
    }
    return rendered;
}

// The largest pixel block mapped ahead (one huge page), and a block whose
// pages the reconstruction thread maps ahead of its first use.
constexpr size_t kPrefaultPixelsMost = size_t(2) << 20;

struct Prefault {
    void* data;
    size_t bytes;
};

void prefaultTask(void* context, int32_t)
{
    const Prefault* block = static_cast<const Prefault*>(context);
    prefaultPages(block->data, block->bytes);
}

} // namespace

// Whether a second thread gains more than starting it and handing work over
// cost: on pictures of at least 2^20 samples, and not for grey one-pass
// streams. There the worker would take about a sixth of the decoding
// thread's instructions, yet two threads ran slower and used more CPU than
// one: the decoding thread outruns a worker that synthesises level 0's values
// one by one, and waits for it at the end.
static bool reconThreadPays(const DecodeSession* s)
{
    if (s->threads < 2)
        return false;
    if (s->threadsAlways)
        return true;
    uint64_t samples = uint64_t(s->height) * uint64_t(s->width) * uint64_t(s->components);
    return samples >= (uint64_t(1) << 20) && (s->components > 1 || s->decodeMode == 1);
}

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
    session->recon = reconThreadPays(session) ? startReconThread() : nullptr;
    // The final render is the pixel block's first writer. A block of one huge
    // page would be faulted in by one half of the render while the other
    // waits, so its page is mapped by the reconstruction thread early on,
    // while it has little to do. Larger blocks fault in both halves at once,
    // and mapping them early would raise the peak memory by their size.
    Prefault pixels{session->pixelPlanes[0][0],
                    static_cast<size_t>(height) * static_cast<size_t>(bytesPerSample * width) * components};
    if (session->recon && session->halfSize == 0 && pixels.bytes <= kPrefaultPixelsMost)
        queueReconTask(session->recon, prefaultTask, &pixels, 0);
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
    waitForRecon(session->recon);
    session->phase = PHASE_DONE;
    if (session->budget.failed)
        session->status = ZR_OUT_OF_MEMORY;

    if (session->status == ZR_OK && session->halfSize == 0) {
        // Without its tone table the pixel block would be left unwritten.
        if (!renderFinal(session))
            session->status = ZR_OUT_OF_MEMORY;
    }
    stopReconThread(session->recon);
    session->recon = nullptr;
    freePlanes(session->planes, components);
    session->planes = nullptr;
}

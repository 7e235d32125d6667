#include "codec/progressive/level_progressive_driver.h"

#include <cstring>

#include "codec/core/alloc.h"
#include "codec/core/array2d.h"
#include "codec/core/bit_reader.h"
#include "codec/core/colour_transform.h"
#include "codec/core/geometry.h"
#include "codec/session/session.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/recon/lowest_band.h"
#include "codec/progressive/band_lists.h"
#include "codec/progressive/level_grids.h"
#include "codec/progressive/map_scans.h"
#include "codec/progressive/quadtree_coder.h"
#include "codec/progressive/value_coder.h"
#include "codec/recon/last_level_expansion.h"
#include "codec/recon/level_expansion.h"
#include "codec/recon/level_grid_schedule.h"
#include "codec/recon/recon_queue.h"
#include "codec/recon/sharpen.h"

namespace {

typedef void (*BandPass)(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags,
                         int32_t height, int32_t width, int32_t L, int32_t b);

BandPass bandPassFor(const DecodeSession* session)
{
    switch (session->mapCoder) {
    case 0: return session->valueCoder == 0 ? scanRaster : scanRuns;
    case 1: return scanSerpentine;
    case 2: return decodeQuadtreeBand;
    default: return nullptr; // mapCoder 3: no band data
    }
}

// mapCoder 0 with a run-coding value coder, and mapCoder 2, keep a tree.
int32_t mapTreeSymbols(const DecodeSession* session)
{
    if (session->mapCoder == 0 && session->valueCoder != 0)
        return 256;
    if (session->mapCoder == 2)
        return 64;
    return 0;
}

void freeFlagMaps(DecodeSession* session)
{
    if (!session->flagMaps)
        return;
    for (int32_t c = 0; c < session->components; c++)
        freeArray2D(reinterpret_cast<void**>(session->flagMaps[c]));
    freeChecked(session->flagMaps);
    session->flagMaps = nullptr;
}

void freeMapCoder(DecodeSession* session)
{
    MapCoderState* state = &session->mapCoderState;
    if (state->rowCases || state->columnCases)
        freeBandParityTables(state->rowCases, state->columnCases);
    state->rowCases = nullptr;
    state->columnCases = nullptr;
    if (state->mapTree.nodes || state->mapTree.weights || state->mapTree.leafOf)
        freeHuffmanTree(&state->mapTree);
    std::memset(&state->mapTree, 0, sizeof state->mapTree);
}

int32_t makeFlagMaps(DecodeSession* session)
{
    const int32_t n = session->components;
    session->flagMaps = static_cast<uint8_t***>(allocChecked(static_cast<size_t>(n) * sizeof(uint8_t**)));
    if (!session->flagMaps)
        return 0;
    for (int32_t c = 0; c < n; c++)
        session->flagMaps[c] = nullptr;
    for (int32_t c = 0; c < n; c++) {
        uint8_t** map = reinterpret_cast<uint8_t**>(makeArray2D(session->height, session->width, 1));
        if (!map) {
            freeFlagMaps(session);
            return 0;
        }
        std::memset(map[0], FLAG_UNTESTED,
                    static_cast<size_t>(session->height) * static_cast<size_t>(session->width));
        session->flagMaps[c] = map;
    }
    return 1;
}

// Callbacks and the map coder object; 0 when a table or tree cannot be made.
int32_t setUpMapCoder(DecodeSession* session)
{
    MapCoderState* state = &session->mapCoderState;
    state->rowCases = nullptr;
    state->columnCases = nullptr;
    state->lists = nullptr;
    std::memset(&state->mapTree, 0, sizeof state->mapTree);

    const int32_t fine = session->fineSteps > 0 || session->magnitudeBoost > 0;
    ValueCallback planeCallback = planeValueCallback(session->valueCoder, fine);
    ValueCallback pixelCallback = pixelValueCallback(session->valueCoder, fine);
    if (session->mapCoder == 3)
        return 1;

    if (!makeBandParityTables(&state->rowCases, &state->columnCases, session->height, session->width,
                              session->levels)) {
        state->rowCases = nullptr;
        state->columnCases = nullptr;
        return 0;
    }
    const int32_t symbols = mapTreeSymbols(session);
    if (symbols != 0 && !initHuffmanTree(&state->mapTree, symbols, 0)) {
        std::memset(&state->mapTree, 0, sizeof state->mapTree);
        freeMapCoder(session);
        return 0;
    }
    state->valueCallback = planeCallback;
    state->finalValueCallback = pixelCallback;
    state->finalLevelDirect = static_cast<int32_t>(session->halfSize);
    return 1;
}

// Sharpens every component's level-1 grid into a spare plane, which then
// takes the component's place. Without a spare plane nothing is sharpened.
void expandLevelOfAllComponents(DecodeSession* session, int32_t L)
{
    const int32_t height = session->height;
    const int32_t width = session->width;
    const bool toPixels = session->halfSize != 0 && L == 0;

    Plane spare = nullptr;
    if (L == 0 && session->sharpen >= 1)
        spare = session->halfSize ? makePlane(height / 2 + 1, width / 2 + 1) : makePlane(height, width);

    for (int32_t c = 0; c < session->components; c++) {
        if (spare && session->sharpen > 0) {
            sharpenPlane(session->planes[c], spare, height / 2 + 1, width / 2 + 1, session->sharpen);
            Plane sharpened = spare;
            spare = session->planes[c];
            session->planes[c] = sharpened;
        }
        if (!toPixels)
            expandLevel(session->planes[c], height, width, L);
        else if (session->components == 1)
            expandToGray8(session->planes[c], session->pixelPlanes[c], height, width);
        else
            expandToRgb8Channel(session->planes[c], session->pixelPlanes[c], height, width);
    }
    freePlane(spare);
}

void expandLevelTask(void* session, int32_t L)
{
    expandLevelOfAllComponents(static_cast<DecodeSession*>(session), L);
}

// Where the values of the band just started go, for the reconstruction thread.
void queueBandTarget(DecodeSession* session, int32_t toPixels)
{
    const ValueCoderState* state = &session->valueCoderState;
    CoefficientTarget target{};
    target.planes = state->targetPlanes;
    target.pixelPlanes = state->targetPixelPlanes;
    target.toPixels = toPixels;
    target.component = state->componentIndex;
    target.components = state->componentCount;
    target.levelHeight = state->levelHeight;
    target.levelWidth = state->levelWidth;
    target.lowHeight = state->lowHeight;
    target.lowWidth = state->lowWidth;
    target.band = state->currentBand;
    for (int32_t p = 0; p < 3; p++)
        target.grids[p] = state->grids[p];
    queueReconTarget(session->recon, target);
}

} // namespace

int32_t startLevelProgressive(DecodeSession* session)
{
    // The lists' block and the flag maps are mapped first: mapping waits
    // while the reconstruction thread maps its pages ahead, which it starts
    // doing about now.
    BandLists* lists = startBandLists(session);
    if (!makeFlagMaps(session)) {
        freeBandLists(lists);
        session->status = ZR_OUT_OF_MEMORY;
        return 0;
    }

    // The level is named before the first partial picture can be asked for.
    session->level = session->levels;
    session->meanLevel = readLowestBand(session->bits, session->planes[0], session->height, session->width, 0,
                                        session->levels, session->quantStep);
    for (int32_t c = 1; c < session->components; c++)
        readLowestBand(session->bits, session->planes[c], session->height, session->width, c, session->levels,
                       session->quantStep);
    session->phase = PHASE_LEVEL_READY;

    // The planes hold transformed colour from here on, also in low-memory mode.
    if (session->components == 3)
        colourTransform(session->planes, session->height, session->width, session->levels);

    for (int32_t p = 0; p < 3; p++)
        session->valueCoderState.grids[p] = nullptr;
    if (session->mapCoder != 3)
        clearLevelGridsAhead(session->recon, session->levels - 1, clearLevelGridsTask, session);
    if (!setUpMapCoder(session)) {
        freeBandLists(lists);
        freeFlagMaps(session);
        session->status = ZR_OUT_OF_MEMORY;
        return 0;
    }
    session->mapCoderState.lists = lists;
    return 1;
}

int32_t decodeNextLevel(DecodeSession* session)
{
    // The level stays at 0 once every level is done, so that a late partial
    // picture still names a real level.
    if (session->level <= 0)
        return 0;
    const int32_t L = --session->level;

    session->phase = PHASE_NONE;
    // Sharpening swaps planes, so it waits for the queued work.
    if (L == 0 && session->sharpen >= 1) {
        waitForRecon(session->recon);
        expandLevelOfAllComponents(session, L);
    } else {
        runReconTask(session->recon, expandLevelTask, session, L);
    }
    const bool toPixels = session->halfSize != 0 && L == 0;
    session->phase = toPixels ? PHASE_PIXELS_READY : PHASE_LEVEL_READY;

    BitReader* bits = session->bits;
    if (!readBit(bits))
        return 1;

    // The level's values gather in grids where the planes have room, and
    // reach the planes in one pass at the end of the level (or before a
    // partial picture). They are added on this thread.
    ValueCoderState* values = &session->valueCoderState;
    if (L == 0 && !toPixels)
        startFinestGrid(session);
    startLevelGrids(session->recon, L, levelGridsOf(session, L, values->grids), clearLevelGridsTask, session);
    int32_t result = 1;
    BandPass pass = bandPassFor(session);
    const int32_t components = toPixels ? 1 : session->components;
    for (int32_t c = 0; c < components && result; c++) {
        if (!startValueCoder(bits, session, session->planes, session->pixelPlanes, session->height,
                             session->width, c, session->components, session->quantStep, session->magnitudeBoost,
                             session->fineSteps, session->exactSteps)) {
            result = 0;
            break;
        }
        for (int32_t b = 0; b < 3; b++) {
            startBand(session, L, b);
            if (session->recon)
                queueBandTarget(session, toPixels);
            BandLists* lists = session->mapCoderState.lists;
            if (lists)
                prepareBandPass(lists, L, c, b);
            if (pass)
                pass(bits, session, &session->mapCoderState, session->flagMaps[c], session->height,
                     session->width, L, b);
            if (lists)
                endBandPass(lists, L, c, b);
            if (bits->endOfData & 1)
                break;
        }
        endValueCoder(bits, session);
    }
    if (values->grids[0]) {
        flushLevelGridsBehind(session->recon, L, flushLevelGridsTask, session);
        for (int32_t p = 0; p < 3; p++)
            values->grids[p] = nullptr;
    }
    endFinestGrid(session);
    return result;
}

void finishLevelProgressive(DecodeSession* session)
{
    freeBandLists(session->mapCoderState.lists);
    session->mapCoderState.lists = nullptr;
    freeMapCoder(session);
    freeFlagMaps(session);
    endFinestGrid(session);
}

int32_t decodeLevelProgressive(DecodeSession* session)
{
    if (startLevelProgressive(session))
        while (decodeNextLevel(session)) {
        }
    finishLevelProgressive(session);
    return 1;
}

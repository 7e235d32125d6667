#include "codec/onepass/one_pass_driver.h"

#include "codec/core/alloc.h"
#include "codec/core/colour_transform.h"
#include "codec/core/geometry.h"
#include "codec/session/session.h"
#include "codec/onepass/band_value_decoders.h"
#include "codec/recon/lowest_band.h"
#include "codec/onepass/quadtree_map_coder.h"
#include "codec/onepass/run_map_coders.h"
#include "codec/recon/last_level_expansion.h"
#include "codec/recon/level_expansion.h"
#include "codec/recon/level_grid_schedule.h"
#include "codec/recon/recon_queue.h"
#include "codec/recon/sharpen.h"
#include "codec/synth/level_grid.h"

#include <climits>
#include <cstring>

int32_t decodeSignificanceMap(BitReader* bits, uint8_t** map, int32_t rows, int32_t cols,
                              int32_t mapLevels, int32_t mapCoder)
{
    switch (mapCoder) {
    case 0: return decodeRunMapRaster(bits, map, rows, cols, mapLevels);
    case 1: return decodeRunMapCurve(bits, map, rows, cols, mapLevels);
    case 2: return decodeQuadtreeMap(bits, map, rows, cols, mapLevels);
    default: return 1;
    }
}

// Replaces plane 0 by its sharpened level-1 grid. Without memory for the new
// plane the picture stays unsharpened.
static void sharpenComponent0(DecodeSession* s)
{
    int32_t rows = s->height / 2 + 1;
    int32_t cols = s->width / 2 + 1;
    Plane sharpened = s->halfSize ? makePlane(rows, cols) : makePlane(s->height, s->width);
    if (!sharpened)
        return;
    sharpenPlane(s->planes[0], sharpened, rows, cols, s->sharpen);
    freePlane(s->planes[0]);
    s->planes[0] = sharpened;
}

// Every component's expansion to level L: into pixels at level 0 of a
// low-memory decode, else plane by plane.
static void expandComponents(DecodeSession* s, int32_t L)
{
    if (L == 0 && s->halfSize) {
        if (s->components == 1)
            expandToGray8(s->planes[0], s->pixelPlanes[0], s->height, s->width);
        else
            expandYuvToRgb8(s->planes, s->pixelPlanes[0], s->height, s->width);
    } else {
        for (int32_t i = 0; i < s->components; i++)
            expandLevel(s->planes[i], s->height, s->width, L);
    }
}

static void expandComponentsTask(void* session, int32_t L)
{
    expandComponents(static_cast<DecodeSession*>(session), L);
}

static GridPlanes gridPlanesOf(const DecodeSession* s)
{
    return GridPlanes{s->planes, s->components, s->height, s->width, s->halfSize != 0};
}

// The grids of level L in the session's planes; none where the maps carry no
// values.
static bool levelGridsOf(const DecodeSession* s, int32_t L, int32_t* grids[3])
{
    return L < s->levels && s->mapCoder != 3 && levelGridsIn(gridPlanesOf(s), L, grids);
}

static void clearGridsTask(void* session, int32_t L)
{
    clearLevelGridsIn(gridPlanesOf(static_cast<const DecodeSession*>(session)), L);
}

static void flushGridsTask(void* session, int32_t L)
{
    flushLevelGridsIn(gridPlanesOf(static_cast<const DecodeSession*>(session)), L, false);
}

int32_t decodeDetailLevels(DecodeSession* s, uint8_t*** maps, const int32_t* mapLevel)
{
    BitReader* bits = s->bits;
    const int32_t fine = usesFineQuantiser(s->fineSteps, s->magnitudeBoost);
    const BandValueDecoder planeDecoder = selectBandValueDecoder(s->valueCoder, 0, fine);
    const BandValueDecoder pixelDecoder = selectBandValueDecoder(s->valueCoder, 1, fine);
    int32_t switchLevel[3] = {0, 0, 0};

    BandValueArgs args{};
    args.bits = bits;
    args.budget = &s->budget;
    args.planes = s->planes;
    args.pixelPlanes = s->pixelPlanes;
    args.height = s->height;
    args.width = s->width;
    args.components = s->components;
    args.quantStep = s->quantStep;
    args.exactSteps = s->exactSteps;
    args.magnitudeBoost = s->magnitudeBoost;
    args.fineSteps = s->fineSteps;
    args.halfSize = s->halfSize;
    args.recon = s->recon;

    for (int32_t L = s->levels - 1; L >= 0; L--) {
        // Sharpening replaces plane 0, so it waits for the queued work.
        if (L == 0 && s->sharpen > 0) {
            waitForRecon(s->recon);
            sharpenComponent0(s);
        }
        runReconTask(s->recon, expandComponentsTask, s, L);
        // The plane target's values of levels 1 and up gather in grids that
        // reach the planes in one pass at the end of the level. They are
        // added on this thread.
        int32_t* grids[3];
        const bool gridded = !(bits->endOfData & 1) && levelGridsOf(s, L, grids);
        startLevelGrids(s->recon, L, gridded, clearGridsTask, s);
        args.grids = gridded ? grids : nullptr;
        // After the end of data the remaining levels are expansion alone.
        for (int32_t i = 0; i < s->components && !(bits->endOfData & 1); i++) {
            BandValueDecoder decoder;
            if (L == 0 && s->halfSize && mapLevel[i] == 0)
                decoder = pixelDecoder;
            else if (L >= mapLevel[i])
                decoder = planeDecoder;
            else
                continue;
            args.planes = s->planes; // plane 0 may have been replaced by sharpening
            args.map = maps[i];
            args.component = i;
            args.level = L;
            args.switchLevel = &switchLevel[i];
            if (!decoder(&args)) {
                s->status = ZR_OUT_OF_MEMORY;
                return 0;
            }
        }
        if (gridded)
            flushLevelGridsBehind(s->recon, L, flushGridsTask, s);
    }
    return 1;
}

static void releaseMaps(uint8_t*** maps, int32_t count)
{
    for (int32_t i = 0; i < count; i++)
        freeArray2D(reinterpret_cast<void**>(maps[i]));
    freeChecked(maps);
}

int32_t decodeOnePass(DecodeSession* s)
{
    BitReader* bits = s->bits;
    const int32_t n = s->components;
    uint8_t*** maps = static_cast<uint8_t***>(allocChecked(sizeof(uint8_t**) * n));
    if (!maps) {
        s->status = ZR_OUT_OF_MEMORY;
        return 0;
    }
    for (int32_t i = 0; i < n; i++) {
        maps[i] = reinterpret_cast<uint8_t**>(makeArray2D(s->height, s->width, 1));
        if (!maps[i]) {
            releaseMaps(maps, i);
            s->status = ZR_OUT_OF_MEMORY;
            return 0;
        }
        std::memset(maps[i][0], MAP_NOT_SIGNIFICANT,
                    static_cast<size_t>(s->height) * static_cast<size_t>(s->width));
    }

    s->meanLevel = readLowestBand(bits, s->planes[0], s->height, s->width, 0, s->levels,
                                  s->quantStep);
    for (int32_t i = 1; i < n; i++)
        readLowestBand(bits, s->planes[i], s->height, s->width, i, s->levels, s->quantStep);
    if (n == 3 && !s->halfSize)
        colourTransform(s->planes, s->height, s->width, s->levels);
    // A reconstruction thread clears the grids while the maps are read.
    if (s->mapCoder != 3)
        clearLevelGridsAhead(s->recon, s->levels - 1, clearGridsTask, s);

    // A component whose map level is never read (the data ended first) counts as 0.
    int32_t mapLevel[3] = {0, 0, 0};
    for (int32_t i = 0; i < n && !(bits->endOfData & 1); i++) {
        int32_t r = readUnary(bits);
        mapLevel[i] = r;
        // A corrupt map level far above levels gives a map of no level on
        // the settled grid; the sizes are exact for every r.
        int32_t mapLevels = s->levels - r;
        if (!decodeSignificanceMap(bits, maps[i], levelSize(s->height, r), levelSize(s->width, r),
                                   mapLevels, s->mapCoder)) {
            releaseMaps(maps, n);
            s->status = ZR_OUT_OF_MEMORY;
            return 0;
        }
    }

    // Even when the data ended inside the maps, every level is expanded so
    // that the picture is whole.
    int32_t result = decodeDetailLevels(s, maps, mapLevel);
    releaseMaps(maps, n);
    return result;
}

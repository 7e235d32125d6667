// The band value decoders of the one-pass mode: the values of all significant
// coefficients of one level of one component, added into the picture as they
// are decoded.
#pragma once
#include <cstdint>

#include "codec/core/array2d.h"

struct AllocBudget;
struct BitReader;
struct ReconQueue;

struct BandValueArgs {
    BitReader* bits;
    Plane* planes;            // plane target
    PixelRows* pixelPlanes;   // 8-bit target (level 0 in low-memory mode)
    uint8_t** map;            // the component's significance map
    int32_t height;
    int32_t width;
    int32_t component;
    int32_t components;
    int32_t level;            // plane target only; the 8-bit target works on level 0
    int32_t* switchLevel;     // value coder 0: the component's switch level
    uint32_t quantStep;
    uint32_t exactSteps;
    int32_t magnitudeBoost;
    int32_t fineSteps;
    uint32_t halfSize;
    AllocBudget* budget;      // the decode's, for the context model
    ReconQueue* recon;        // non-null: values are queued for the reconstruction thread
    int32_t* const* grids;    // non-null: the plane target's values gather in the level's grids
                              // (level_grid.h), also when a reconstruction thread runs
};

// Returns 0 when the call's Huffman tree or context model cannot be
// allocated (nothing more is read then), else 1. A premature end shows in
// the reader's endOfData flag; nothing decoded after it is added.
typedef int32_t (*BandValueDecoder)(const BandValueArgs* args);

// One of the sixteen members: valueCoder 0..3 (others are taken as 3), the
// 8-bit target or the plane target, the fine or the plain quantiser.
BandValueDecoder selectBandValueDecoder(int32_t valueCoder, int32_t eightBitTarget, int32_t fine);

// The fine quantiser is used when fineSteps > 0 or magnitudeBoost > 0.
inline int32_t usesFineQuantiser(int32_t fineSteps, int32_t magnitudeBoost)
{
    return fineSteps > 0 || magnitudeBoost > 0;
}

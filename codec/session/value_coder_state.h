// Working record of the level-progressive value coders.
#pragma once
#include <cstdint>

#include "codec/core/array2d.h"
#include "codec/core/plane_band.h"
#include "codec/entropy/huffman_tree.h"

struct ContextModel;

struct ValueCoderState {
    Plane targetPlane;
    Plane* targetPlanes;
    PixelRows targetPixels;
    PixelRows* targetPixelPlanes;
    int32_t pictureHeight;
    int32_t pictureWidth;
    int32_t currentLevel;
    int32_t currentBand;
    int32_t lowHeight;
    int32_t lowWidth;
    int32_t levelHeight;
    int32_t levelWidth;
    int32_t componentIndex;
    int32_t componentCount;
    AdaptiveHuffmanTree valueTree;
    ContextModel* valueModel;
    int32_t escapeWidth;
    int32_t quantStep;
    int32_t fineStep;
    int32_t fineCount;
    int32_t magnitudeBoost;
    int32_t fineSteps;
    int32_t exactSteps;
    int32_t* grids[3]; // where the level's values gather (level_grid.h); null: added one by one
    PlaneBand planeBand; // the current band in targetPlane
};

// The per-decode record every decoding stage works on, and the status codes.
#pragma once
#include <cstdint>

#include "codec/core/alloc.h"
#include "codec/core/array2d.h"
#include "codec/core/bit_reader.h"
#include "codec/session/map_coder_state.h"
#include "codec/session/value_coder_state.h"

enum : int32_t {
    ZR_OK = 0,
    ZR_BAD_MAGIC = 1,
    ZR_BAD_VERSION = 2,
    ZR_UNSUPPORTED_CODER = 3,
    ZR_OUT_OF_MEMORY = 8,
    ZR_NO_PARTIAL_ONE_PASS = 11,
    ZR_NO_PARTIAL_YET = 12,
    ZR_NO_DECODE = 15,
    ZR_BAD_SAMPLE_DEPTH = 16,
};

// Progress marker read by partialPicture.
enum : int32_t {
    PHASE_NONE = 0,
    PHASE_LEVEL_READY = 1,
    PHASE_PIXELS_READY = 2,
    PHASE_DONE = 3,
    PHASE_ONE_PASS = 5,
};

struct ReconQueue;

struct DecodeSession {
    ValueCoderState valueCoderState;
    MapCoderState mapCoderState;
    BitReader* bits;
    Plane* planes;
    PixelRows* pixelPlanes;
    uint8_t*** flagMaps;
    int32_t version;
    int32_t height;
    int32_t width;
    uint32_t extension1;
    uint32_t extension2;
    uint32_t extension3;
    int32_t bitsPerSample;
    int32_t components;
    int32_t levels;
    int32_t level;
    int32_t valueCoder;
    int32_t mapCoder;
    uint32_t quantStep;
    int32_t contrastStretch;
    int32_t fineSteps;
    int32_t magnitudeBoost;
    int32_t meanLevel;
    int32_t sharpen;
    uint32_t exactSteps;
    int32_t decodeMode;
    uint32_t halfSize;
    int32_t phase;
    int32_t status;
    AllocBudget budget;   // the decode's memory: picture and context models
    uint64_t pixelLimit;  // largest height x width decoded; 0: no limit
    int32_t threads;      // 2 or more: reconstruct on a second thread where it pays
    int32_t threadsAlways; // nonzero: and also where it does not
    ReconQueue* recon;    // that thread's queue while the driver runs; null: none
    int32_t* finestGrid;  // level 0's values while they gather (level_grids.h); null: none
    size_t finestGridBytes;
};

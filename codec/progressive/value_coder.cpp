#include "codec/progressive/value_coder.h"

#include <cstring>

#include "codec/core/bit_reader.h"
#include "codec/core/dequantiser.h"
#include "codec/core/geometry.h"
#include "codec/session/session.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/entropy/context_model.h"
#include "codec/synth/synthesis_kernels.h"

int32_t startValueCoder(BitReader* bits, DecodeSession* session, Plane* planes, PixelRows* pixelPlanes,
                        int32_t height, int32_t width, int32_t c, int32_t components, uint32_t quantStep,
                        int32_t magnitudeBoost, int32_t fineSteps, uint32_t exactSteps)
{
    ValueCoderState* state = &session->valueCoderState;

    switch (session->valueCoder) {
    case 0:
        state->valueModel = createContextModel(&session->budget);
        if (!state->valueModel) {
            session->status = ZR_OUT_OF_MEMORY;
            return 0;
        }
        startContextDecoder(1, bits, state->valueModel);
        break;
    case 1:
        // A failed init releases what it made; the record is never freed again.
        std::memset(&state->valueTree, 0, sizeof state->valueTree);
        if (!initHuffmanTree(&state->valueTree, 2048, 1)) {
            std::memset(&state->valueTree, 0, sizeof state->valueTree);
            session->status = ZR_OUT_OF_MEMORY;
            return 0;
        }
        state->escapeWidth = static_cast<int32_t>(readBits(bits, 5));
        break;
    case 3:
        state->escapeWidth = static_cast<int32_t>(readBits(bits, 5));
        break;
    default:
        break;
    }

    state->targetPlanes = planes;
    state->targetPlane = planes ? planes[0] : nullptr;
    if (pixelPlanes) {
        state->targetPixelPlanes = pixelPlanes;
        state->targetPixels = pixelPlanes[0];
    }
    state->pictureHeight = height;
    state->pictureWidth = width;
    state->componentIndex = c;
    state->componentCount = components;
    state->quantStep = static_cast<int32_t>(quantStep);
    state->magnitudeBoost = magnitudeBoost;
    state->fineSteps = fineSteps;
    state->exactSteps = static_cast<int32_t>(exactSteps);

    state->fineStep = fineStepFor(state->quantStep, fineSteps);
    state->fineCount = fineSteps > 0 ? state->quantStep / state->fineStep : 0;
    return 1;
}

void startBand(DecodeSession* session, int32_t L, int32_t b)
{
    ValueCoderState* state = &session->valueCoderState;
    state->currentLevel = L;
    state->currentBand = b;
    if (b == 0)
        bandBounds(state->pictureHeight, state->pictureWidth, L, 2, &state->lowHeight, &state->levelHeight,
                   &state->lowWidth, &state->levelWidth);
    preparePlaneBand(&state->planeBand, state->targetPlane, state->levelHeight, state->levelWidth, state->lowHeight,
                     state->lowWidth, b);
}

void endValueCoder(BitReader* bits, DecodeSession* session)
{
    ValueCoderState* state = &session->valueCoderState;
    switch (session->valueCoder) {
    case 0:
        if (state->valueModel)
            endContextDecoder(bits, state->valueModel);
        state->valueModel = nullptr;
        break;
    case 1:
        freeHuffmanTree(&state->valueTree);
        std::memset(&state->valueTree, 0, sizeof state->valueTree);
        break;
    default:
        break;
    }
}

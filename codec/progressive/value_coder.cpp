#include "codec/progressive/value_coder.h"

#include <cstring>

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/core/session.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/entropy/context_model.h"

int32_t startValueCoder(BitReader* bits, DecodeSession* session, Plane* planes, PixelRows* pixelPlanes,
                        int32_t height, int32_t width, int32_t c, int32_t components, uint32_t quantStep,
                        int32_t magnitudeBoost, int32_t fineSteps, uint32_t exactSteps)
{
    ValueCoderState* state = &session->valueCoderState;

    switch (session->valueCoder) {
    case 0:
        state->valueModel = createContextModel();
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

    // h = q / (fineSteps + 1), at least 1; the divisor is widened so that no
    // header value can divide by zero or overflow.
    int64_t divisor = static_cast<int64_t>(fineSteps) + 1;
    int64_t h = divisor != 0 ? static_cast<int64_t>(state->quantStep) / divisor : 0;
    state->fineStep = h > 0 ? static_cast<int32_t>(h) : 1;
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

// Products wrap as 32-bit two's complement, as the format's arithmetic does.
static inline int32_t wrapMul(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

static inline int32_t wrapAdd(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

static inline int32_t stepValue(int32_t J, int32_t step, bool exact)
{
    if (exact && J == 1)
        return step;
    return wrapAdd(wrapMul(J, step), step >> 1);
}

int32_t reconstructMagnitude(const ValueCoderState* state, int32_t J, int32_t fine, int32_t near)
{
    const int32_t q = state->quantStep;
    const bool exact = state->exactSteps != 0 && near;
    if (!fine)
        return stepValue(J, q, exact);

    int32_t V;
    if (J < state->fineCount)
        V = stepValue(J, state->fineStep, exact);
    else
        V = stepValue(wrapAdd(J, -state->fineCount), q, exact);
    if (near && state->exactSteps == 0)
        V = wrapAdd(V, wrapMul(V, state->magnitudeBoost) >> 3);
    return V;
}

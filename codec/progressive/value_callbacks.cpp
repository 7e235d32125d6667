// The sixteen value callbacks: four magnitude syntaxes x plain/fine quantiser
// x plane/8-bit target, instantiated from one template.
#include "codec/core/bit_reader.h"
#include "codec/core/force_inline.h"
#include "codec/session/session.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/entropy/context_model.h"
#include "codec/entropy/context_step.h"
#include "codec/progressive/value_coder.h"
#include "codec/recon/recon_queue.h"
#include "codec/synth/synthesis_kernels.h"

namespace {

enum Syntax { CONTEXT_MODEL = 0, HUFFMAN = 1, UNARY = 2, FIXED_WIDTH = 3 };

// Reads sign and magnitude index; false when the position is not significant.
template <int S>
ZR_INLINE bool readSignAndIndex(BitReader* bits, ValueCoderState* state, bool* negative, int32_t* J)
{
    if constexpr (S == CONTEXT_MODEL) {
        // A corrupt stream may deliver -1; it is used as it comes (odd, J = -1).
        int32_t s = decodeContextValueInline(bits, state->valueModel);
        if (s == 0)
            return false;
        *J = static_cast<int32_t>(static_cast<uint32_t>(s) - 1u) >> 1;
        *negative = (s & 1) != 0;
    } else {
        *negative = readBit(bits) != 0;
        if constexpr (S == HUFFMAN) {
            *J = decodeHuffmanSymbol(&state->valueTree, bits, state->escapeWidth);
        } else if constexpr (S == UNARY) {
            *J = readUnary(bits);
        } else {
            *J = static_cast<int32_t>(readBits(bits, state->escapeWidth));
        }
    }
    return true;
}

template <int S, bool FINE, bool PIXELS>
int32_t valueCallback(BitReader* bits, DecodeSession* session, int32_t row, int32_t col)
{
    ValueCoderState* state = &session->valueCoderState;
    bool negative = false;
    int32_t J = 0;
    if (!readSignAndIndex<S>(bits, state, &negative, &J))
        return 0;

    const bool near = PIXELS || state->currentLevel < 2;
    int32_t V = reconstructMagnitude(state, J, FINE, near);
    if (negative)
        V = static_cast<int32_t>(0u - static_cast<uint32_t>(V));
    if (bits->endOfData & 1)
        return 0;

    if (session->recon) {
        queueReconValue(session->recon, V, row, col);
        return 1;
    }
    if constexpr (PIXELS) {
        if (state->componentCount == 1)
            addCoefficientGray8(state->targetPixels, V, state->levelHeight, state->levelWidth, state->lowHeight,
                                state->lowWidth, state->currentBand, row, col);
        else
            addCoefficientColourPixels(state->targetPixelPlanes, state->componentIndex, 3, V, state->levelHeight,
                                       state->levelWidth, state->lowHeight, state->lowWidth, state->currentBand,
                                       row, col);
    } else {
        if (state->componentCount == 1)
            addCoefficientPlane(state->targetPlane, V, state->levelHeight, state->levelWidth, state->lowHeight,
                                state->lowWidth, state->currentBand, row, col);
        else
            addCoefficientColourPlanes(state->targetPlanes, state->componentIndex, 3, V, state->levelHeight,
                                       state->levelWidth, state->lowHeight, state->lowWidth, state->currentBand,
                                       row, col);
    }
    return 1;
}

template <bool PIXELS>
ValueCallback selectCallback(int32_t valueCoder, int32_t fine)
{
    static const ValueCallback table[4][2] = {
        {valueCallback<CONTEXT_MODEL, false, PIXELS>, valueCallback<CONTEXT_MODEL, true, PIXELS>},
        {valueCallback<HUFFMAN, false, PIXELS>, valueCallback<HUFFMAN, true, PIXELS>},
        {valueCallback<UNARY, false, PIXELS>, valueCallback<UNARY, true, PIXELS>},
        {valueCallback<FIXED_WIDTH, false, PIXELS>, valueCallback<FIXED_WIDTH, true, PIXELS>},
    };
    if (valueCoder < 0 || valueCoder > 3)
        return nullptr;
    return table[valueCoder][fine ? 1 : 0];
}

} // namespace

ValueCallback planeValueCallback(int32_t valueCoder, int32_t fine)
{
    return selectCallback<false>(valueCoder, fine);
}

ValueCallback pixelValueCallback(int32_t valueCoder, int32_t fine)
{
    return selectCallback<true>(valueCoder, fine);
}

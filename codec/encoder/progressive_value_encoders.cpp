#include "codec/encoder/progressive_encoder_state.h"

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/encoder/bit_sink.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/entropy/context_model.h"

void startProgressiveValues(ProgressiveEncoder* e)
{
    const ComponentPlan& cp = e->plan->component[e->component];
    int32_t largest = 0;
    for (int32_t b = 0; b < 3; b++) {
        BandRect rect = bandRect(e->plan->height, e->plan->width, e->level, b);
        for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
            for (int32_t col = rect.colStart; col < rect.colEnd; col++)
                if (cp.index[e->at(r, col)] > largest)
                    largest = cp.index[e->at(r, col)];
    }
    e->escapeWidth = bitLength(static_cast<uint32_t>(largest));
    switch (e->valueCoder) {
    case 0:
        e->valueModel = createContextModel();
        if (!e->valueModel) {
            e->ok = false;
            return;
        }
        startContextEncoder(1, e->valueModel, 0);
        break;
    case 1:
        e->valueTree = &e->valueTreeStore;
        if (!initHuffmanTree(e->valueTree, 2048, 1)) {
            e->valueTree = nullptr;
            e->ok = false;
            return;
        }
        // A zero width would make an escape name symbol 0 again.
        if (e->escapeWidth == 0)
            e->escapeWidth = 1;
        writeBits(e->writer, 5, static_cast<uint32_t>(e->escapeWidth));
        break;
    case 3:
        writeBits(e->writer, 5, static_cast<uint32_t>(e->escapeWidth));
        break;
    default:
        break;
    }
}

void endProgressiveValues(ProgressiveEncoder* e)
{
    if (e->valueModel) {
        endContextEncoder(e->writer, e->valueModel);
        e->valueModel = nullptr;
    }
    if (e->valueTree) {
        freeHuffmanTree(e->valueTree);
        e->valueTree = nullptr;
    }
}

void writeProgressiveValue(ProgressiveEncoder* e, int32_t row, int32_t col)
{
    const ComponentPlan& cp = e->plan->component[e->component];
    size_t p = e->at(row, col);
    // A position the decoder reads but the plan left out goes as the smallest value.
    int32_t J = cp.index[p] >= 0 ? cp.index[p] : 0;
    bool negative = cp.index[p] >= 0 && cp.negative[p];
    switch (e->valueCoder) {
    case 0:
        if (e->recorded)
            e->recorded->push_back(static_cast<uint16_t>(2 * J + (negative ? 1 : 2)));
        else if (e->valueModel)
            encodeContextValue(e->writer, 2 * J + (negative ? 1 : 2), e->valueModel);
        break;
    case 1:
        writeBit(e->writer, negative);
        if (e->valueTree)
            encodeHuffmanSymbol(e->valueTree, J, e->writer, e->escapeWidth);
        break;
    case 2:
        writeBit(e->writer, negative);
        writeUnary(e->writer, static_cast<uint32_t>(J));
        break;
    default:
        writeBit(e->writer, negative);
        writeBits(e->writer, e->escapeWidth, static_cast<uint32_t>(J));
        break;
    }
}

void writeProgressiveZero(ProgressiveEncoder* e)
{
    if (e->recorded)
        e->recorded->push_back(0);
    else if (e->valueModel)
        encodeContextValue(e->writer, 0, e->valueModel);
}

void codeRecordedValues(ProgressiveEncoder* e, const std::vector<uint16_t>& symbols)
{
    if (!e->valueModel)
        return;
    for (uint16_t symbol : symbols)
        encodeContextValue(e->writer, symbol, e->valueModel);
}

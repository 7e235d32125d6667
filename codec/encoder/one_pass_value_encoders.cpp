#include "codec/encoder/one_pass_value_encoders.h"

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/encoder/bit_sink.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/entropy/context_model.h"

namespace {

// Visits the coded positions of the level in the decoders' scan order.
template <typename Visit>
void forEachCoded(const PicturePlan& plan, int32_t c, int32_t L, Visit visit)
{
    const ComponentPlan& cp = plan.component[c];
    for (int32_t b = 0; b < 3; b++) {
        BandRect rect = bandRect(plan.height, plan.width, L, b);
        for (int32_t r = rect.rowStart; r < rect.rowEnd; r++) {
            for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
                size_t p = plan.at(r, col);
                uint8_t code = cp.mapCode[p];
                if (code != 1)
                    visit(cp.index[p], cp.negative[p] != 0, code);
            }
        }
    }
}

// The magnitude index as coded: explicit positions (code 2) send it minus one,
// except with value coder 3.
inline int32_t symbolOf(int32_t J, uint8_t code, int32_t valueCoder)
{
    return code == 2 && valueCoder != 3 ? J - 1 : J;
}

bool encodeHuffmanValues(BitReader* writer, const PicturePlan& plan, int32_t c, int32_t L,
                         int32_t valueCoder, int32_t width)
{
    AdaptiveHuffmanTree tree;
    if (!initHuffmanTree(&tree, 2048, 1))
        return false;
    writeBits(writer, 5, static_cast<uint32_t>(width));
    forEachCoded(plan, c, L, [&](int32_t J, bool negative, uint8_t code) {
        writeBit(writer, negative);
        encodeHuffmanSymbol(&tree, symbolOf(J, code, valueCoder), writer, width);
    });
    freeHuffmanTree(&tree);
    return true;
}

bool encodeContextValues(BitReader* writer, const PicturePlan& plan, int32_t c, int32_t L)
{
    forEachCoded(plan, c, L, [&](int32_t, bool negative, uint8_t) { writeBit(writer, negative); });
    ContextModel* model = createContextModel();
    if (!model)
        return false;
    startContextEncoder(0, model, 0);
    forEachCoded(plan, c, L, [&](int32_t J, bool, uint8_t code) {
        encodeContextSymbol(writer, symbolOf(J, code, 0), model);
    });
    endContextEncoder(writer, model);
    return true;
}

} // namespace

int32_t largestOnePassSymbol(const PicturePlan& plan, int32_t c, int32_t L, int32_t valueCoder)
{
    int32_t largest = -1;
    forEachCoded(plan, c, L, [&](int32_t J, bool, uint8_t code) {
        int32_t s = symbolOf(J, code, valueCoder);
        if (s > largest)
            largest = s;
    });
    return largest;
}

bool encodeOnePassValues(BitReader* writer, const PicturePlan& plan, int32_t c, int32_t L,
                         int32_t valueCoder, ValueCoder0Mode mode)
{
    int32_t largest = largestOnePassSymbol(plan, c, L, valueCoder);
    int32_t width = bitLength(static_cast<uint32_t>(largest > 0 ? largest : 0));
    switch (valueCoder) {
    case 0:
        if (mode == VALUE0_HUFFMAN)
            return encodeHuffmanValues(writer, plan, c, L, 0, width > 0 ? width : 1);
        if (mode == VALUE0_SWITCH)
            writeBits(writer, 5, 0);
        return encodeContextValues(writer, plan, c, L);
    case 1:
        return encodeHuffmanValues(writer, plan, c, L, 1, width > 0 ? width : 1);
    case 2:
        forEachCoded(plan, c, L, [&](int32_t J, bool negative, uint8_t code) {
            writeBit(writer, negative);
            writeUnary(writer, static_cast<uint32_t>(symbolOf(J, code, 2)));
        });
        return true;
    default:
        writeBits(writer, 5, static_cast<uint32_t>(width));
        forEachCoded(plan, c, L, [&](int32_t J, bool negative, uint8_t) {
            writeBit(writer, negative);
            writeBits(writer, width, static_cast<uint32_t>(J));
        });
        return true;
    }
}

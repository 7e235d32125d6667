#include "codec/entropy/arithmetic_coder.h"

#include "codec/core/bit_reader.h"
#include "codec/entropy/context_model.h"

#include <bit>

namespace {

// Both sides narrow identically, so they shift the same number of times.
inline void narrow(const SymbolRange* range, ContextModel* model)
{
    int32_t r = (model->high - model->low) + 1;
    int32_t low = model->low;
    model->high = static_cast<uint16_t>(low + (r * range->highCount) / range->scale - 1);
    model->low = static_cast<uint16_t>(low + (r * range->lowCount) / range->scale);
}

} // namespace

void startArithmeticDecoder(BitReader* reader, ContextModel* model)
{
    uint32_t code = 0;
    for (int i = 0; i < 16; i++)
        code = ((code << 1) | readBit(reader)) & 0xFFFFu;
    model->code = static_cast<uint16_t>(code);
    model->low = 0;
    model->high = 0xFFFF;
}

void startArithmeticEncoder(ContextModel* model)
{
    model->low = 0;
    model->high = 0xFFFF;
    model->pendingBits = 0;
}

void encodeRange(BitReader* writer, const SymbolRange* range, ContextModel* model)
{
    narrow(range, model);
    uint32_t low = model->low, high = model->high;
    for (;;) {
        if ((high & 0x8000u) == (low & 0x8000u)) {
            uint32_t bit = high >> 15;
            writeBit(writer, bit);
            for (; model->pendingBits > 0; model->pendingBits--)
                writeBit(writer, bit ^ 1u);
        } else if ((low & 0x4000u) && !(high & 0x4000u)) {
            model->pendingBits++;
            low &= 0x3FFFu;
            high |= 0x4000u;
        } else {
            break;
        }
        low = (low << 1) & 0xFFFFu;
        high = ((high << 1) | 1u) & 0xFFFFu;
    }
    model->low = static_cast<uint16_t>(low);
    model->high = static_cast<uint16_t>(high);
}

void flushArithmeticEncoder(BitReader* writer, ContextModel* model)
{
    uint32_t bit = (model->low >> 14) & 1u;
    writeBit(writer, bit);
    for (model->pendingBits++; model->pendingBits > 0; model->pendingBits--)
        writeBit(writer, bit ^ 1u);
    writeBits(writer, 16, 0);
    writeBit(writer, 1);
}

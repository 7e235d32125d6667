// The order-n context model with its arithmetic decoder on its own: segments
// of symbols or values, each started, decoded and closed as the value
// decoders do, until the data end.
//
// Input: one settings byte, then the coded bits.
//   bits 0-2  maximum order (the decoders use 0 and 1; the model allows 7)
//   bit 3     decode values (decodeContextValue) instead of single symbols
//   bits 4-7  k: segments of up to 2^k symbols
#include <cstdlib>

#include "codec/entropy/context_model.h"
#include "fuzz_input.h"

namespace {

// A symbol can cost far less than a bit, so the data alone do not bound the
// work; real callers stop after the values of one band.
constexpr int32_t kMaxSymbols = 1 << 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    limitAllocations();
    FuzzInput in{data, size};
    uint8_t settings = in.byte();
    int32_t maxOrder = settings & 7;
    bool values = settings & 8;
    int32_t segmentLength = 1 << (settings >> 4);

    BitReader* reader = readerOver(in.data, in.size);
    if (!reader)
        return 0;
    int32_t decoded = 0;
    while (!(reader->endOfData & 1) && decoded < kMaxSymbols) {
        ContextModel* model = createContextModel();
        if (!model)
            break;
        startContextDecoder(maxOrder, reader, model);
        for (int32_t i = 0; i < segmentLength && decoded < kMaxSymbols && !(reader->endOfData & 1); i++) {
            int32_t symbol = values ? decodeContextValue(reader, model) : decodeContextSymbol(reader, model);
            if (!values && (symbol < -2 || symbol > 255))
                std::abort();
            decoded++;
        }
        endContextDecoder(reader, model);
    }
    releaseBitReader(reader);
    return 0;
}

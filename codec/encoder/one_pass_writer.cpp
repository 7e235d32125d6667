#include "codec/encoder/one_pass_writer.h"

#include "codec/core/bit_reader.h"
#include "codec/encoder/bit_sink.h"
#include "codec/encoder/one_pass_map_encoders.h"
#include "codec/encoder/one_pass_value_encoders.h"

namespace {

// Value coder 0 switches a component to the context model for good: at the
// coarsest level from which every finer level's symbols fit in a byte, and
// only when the model codes that level in fewer bits than the Huffman tree.
ValueCoder0Mode chooseValue0Mode(const PicturePlan& plan, int32_t c, int32_t L, bool* ok)
{
    const ComponentPlan& cp = plan.component[c];
    for (int32_t k = L; k >= cp.mapLevel; k--)
        if (largestOnePassSymbol(plan, c, k, 0) > 255)
            return VALUE0_HUFFMAN;
    BitReader* counter = createBitSink(nullptr);
    if (!counter) {
        *ok = false;
        return VALUE0_HUFFMAN;
    }
    int64_t start = bitsWritten(counter);
    *ok &= encodeOnePassValues(counter, plan, c, L, 0, VALUE0_HUFFMAN);
    int64_t huffman = bitsWritten(counter) - start;
    start = bitsWritten(counter);
    *ok &= encodeOnePassValues(counter, plan, c, L, 0, VALUE0_SWITCH);
    int64_t context = bitsWritten(counter) - start;
    releaseBitSink(counter);
    return context <= huffman ? VALUE0_SWITCH : VALUE0_HUFFMAN;
}

} // namespace

bool writeOnePassStream(BitReader* writer, const StreamHeader& header, const PicturePlan& plan)
{
    writeStreamHeader(writer, header);
    for (int32_t c = 0; c < plan.components; c++)
        writeLowestBand(writer, plan.component[c].lowest);
    bool ok = true;
    for (int32_t c = 0; c < plan.components; c++) {
        writeUnary(writer, static_cast<uint32_t>(plan.component[c].mapLevel));
        ok &= encodeSignificanceMap(writer, plan, c, header.mapCoder);
    }
    bool switched[3] = {false, false, false};
    for (int32_t L = plan.levels - 1; L >= 0 && ok; L--) {
        for (int32_t c = 0; c < plan.components; c++) {
            if (L < plan.component[c].mapLevel)
                continue;
            ValueCoder0Mode mode = VALUE0_HUFFMAN;
            if (header.valueCoder == 0) {
                mode = switched[c] ? VALUE0_CONTEXT : chooseValue0Mode(plan, c, L, &ok);
                switched[c] |= mode == VALUE0_SWITCH;
            }
            ok &= encodeOnePassValues(writer, plan, c, L, header.valueCoder, mode);
        }
    }
    flushBitWriter(writer);
    return ok;
}

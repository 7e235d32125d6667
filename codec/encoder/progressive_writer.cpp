#include "codec/encoder/progressive_writer.h"

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/encoder/progressive_encoder_state.h"
#include "codec/entropy/adaptive_huffman.h"

namespace {

bool setUp(ProgressiveEncoder* e)
{
    const PicturePlan& plan = *e->plan;
    size_t n = static_cast<size_t>(plan.height) * plan.width;
    for (int32_t c = 0; c < plan.components; c++) {
        e->flagData[c].assign(n, 1);
        e->flagRows[c].resize(static_cast<size_t>(plan.height));
        for (int32_t r = 0; r < plan.height; r++)
            e->flagRows[c][r] = e->flagData[c].data() + static_cast<size_t>(r) * plan.width;
    }
    if (e->mapCoder == 3)
        return true;
    if (!makeBandParityTables(&e->rowCases, &e->columnCases, plan.height, plan.width, plan.levels))
        return false;
    int32_t symbols = e->mapCoder == 2 ? 64 : (e->mapCoder == 0 && e->valueCoder != 0 ? 256 : 0);
    if (symbols) {
        if (!initHuffmanTree(&e->mapTreeStore, symbols, 0))
            return false;
        e->mapTree = &e->mapTreeStore;
    }
    return true;
}

void tearDown(ProgressiveEncoder* e)
{
    if (e->mapTree)
        freeHuffmanTree(e->mapTree);
    if (e->rowCases)
        freeBandParityTables(e->rowCases, e->columnCases);
}

} // namespace

bool writeProgressiveStream(BitReader* writer, const StreamHeader& header, const PicturePlan& plan)
{
    writeStreamHeader(writer, header);
    for (int32_t c = 0; c < plan.components; c++)
        writeLowestBand(writer, plan.component[c].lowest);
    ProgressiveEncoder e;
    e.writer = writer;
    e.plan = &plan;
    e.mapCoder = header.mapCoder;
    e.valueCoder = header.valueCoder;
    if (plan.levels > 0)
        e.ok = setUp(&e);
    for (int32_t L = plan.levels - 1; L >= 0 && e.ok; L--) {
        bool detail = plan.levelHasDetail[L] && e.mapCoder != 3;
        writeBit(writer, detail);
        if (!detail)
            continue;
        e.level = L;
        for (int32_t c = 0; c < plan.components && e.ok; c++) {
            e.component = c;
            startProgressiveValues(&e);
            for (int32_t b = 0; b < 3 && e.ok; b++)
                writeProgressiveBand(&e, b);
            endProgressiveValues(&e);
        }
    }
    tearDown(&e);
    flushBitWriter(writer);
    return e.ok;
}

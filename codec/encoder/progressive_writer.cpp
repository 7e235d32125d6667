#include "codec/encoder/progressive_writer.h"

#include <vector>

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/encoder/bit_sink.h"
#include "codec/encoder/large_arrays.h"
#include "codec/encoder/parallel_tasks.h"
#include "codec/encoder/progressive_encoder_state.h"
#include "codec/entropy/adaptive_huffman.h"

namespace {

// Flag maps for components first .. end - 1.
bool setUp(ProgressiveEncoder* e, int32_t first, int32_t end)
{
    const PicturePlan& plan = *e->plan;
    size_t n = static_cast<size_t>(plan.height) * plan.width;
    for (int32_t c = first; c < end; c++) {
        fillLargeArray(&e->flagData[c], n, uint8_t(1));
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

// One component's data at one level: its bits, the last byte padded.
struct Segment {
    std::vector<uint8_t> bytes;
    int64_t bits = 0;
};

// Writes every level with detail of component c into segments[L].
bool writeComponentLevels(const StreamHeader& header, const PicturePlan& plan, int32_t c,
                          std::vector<Segment>* segments)
{
    ProgressiveEncoder e;
    e.plan = &plan;
    e.mapCoder = header.mapCoder;
    e.valueCoder = header.valueCoder;
    e.component = c;
    e.ok = setUp(&e, c, c + 1);
    for (int32_t L = plan.levels - 1; L >= 0 && e.ok; L--) {
        if (!plan.levelHasDetail[L])
            continue;
        Segment& segment = (*segments)[L];
        e.writer = createBitSink(&segment.bytes);
        if (!e.writer) {
            e.ok = false;
            break;
        }
        e.level = L;
        startProgressiveValues(&e);
        for (int32_t b = 0; b < 3 && e.ok; b++)
            writeProgressiveBand(&e, b);
        endProgressiveValues(&e);
        segment.bits = bitsWritten(e.writer);
        flushBitWriter(e.writer);
        releaseBitSink(e.writer);
        e.writer = nullptr;
    }
    tearDown(&e);
    return e.ok;
}

void appendSegment(BitReader* writer, const Segment& segment)
{
    size_t whole = static_cast<size_t>(segment.bits / 8);
    for (size_t i = 0; i < whole; i++)
        writeBits(writer, 8, segment.bytes[i]);
    int32_t rest = static_cast<int32_t>(segment.bits % 8);
    if (rest)
        writeBits(writer, rest, static_cast<uint32_t>(segment.bytes[whole]) >> (8 - rest));
}

// The components written apart and joined level by level.
bool writeComponentsApart(BitReader* writer, const PicturePlan& plan, const StreamHeader& header, int32_t threads)
{
    std::vector<std::vector<Segment>> segments(static_cast<size_t>(plan.components),
                                               std::vector<Segment>(static_cast<size_t>(plan.levels)));
    bool ok[3] = {true, true, true};
    runTasks(threads, static_cast<size_t>(plan.components), [&](size_t c) {
        ok[c] = writeComponentLevels(header, plan, static_cast<int32_t>(c), &segments[c]);
    });
    for (int32_t c = 0; c < plan.components; c++)
        if (!ok[c])
            return false;
    for (int32_t L = plan.levels - 1; L >= 0; L--) {
        writeBit(writer, plan.levelHasDetail[L]);
        if (!plan.levelHasDetail[L])
            continue;
        for (int32_t c = 0; c < plan.components; c++) {
            appendSegment(writer, segments[c][L]);
            // The memory goes as soon as the segment is in the stream.
            std::vector<uint8_t>().swap(segments[c][L].bytes);
        }
    }
    return true;
}

} // namespace

bool writeProgressiveStream(BitReader* writer, const StreamHeader& header, const PicturePlan& plan,
                            int32_t threads)
{
    writeStreamHeader(writer, header);
    for (int32_t c = 0; c < plan.components; c++)
        writeLowestBand(writer, plan.component[c].lowest);
    bool apart = header.mapCoder == 1 || (header.mapCoder == 0 && header.valueCoder == 0);
    if (threads > 1 && plan.components > 1 && plan.levels > 0 && apart) {
        bool ok = writeComponentsApart(writer, plan, header, threads);
        flushBitWriter(writer);
        return ok;
    }
    ProgressiveEncoder e;
    e.writer = writer;
    e.plan = &plan;
    e.mapCoder = header.mapCoder;
    e.valueCoder = header.valueCoder;
    if (plan.levels > 0)
        e.ok = setUp(&e, 0, plan.components);
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

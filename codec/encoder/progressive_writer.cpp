#include "codec/encoder/progressive_writer.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/encoder/bit_sink.h"
#include "codec/encoder/large_arrays.h"
#include "codec/encoder/parallel_tasks.h"
#include "codec/encoder/progressive_encoder_state.h"
#include "codec/progressive/map_scans.h"
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

// Sets up e to write component c of the plan apart.
void setUpComponent(ProgressiveEncoder* e, const StreamHeader& header, const PicturePlan& plan, int32_t c)
{
    e->plan = &plan;
    e->mapCoder = header.mapCoder;
    e->valueCoder = header.valueCoder;
    e->component = c;
    e->ok = setUp(e, c, c + 1);
}

// Codes e's current level into *segment: writeBands(e) between the value
// coder's start and end, on a writer of its own; e->ok false without one.
template <class F>
void writeLevelSegment(ProgressiveEncoder* e, Segment* segment, F&& writeBands)
{
    segment->bytes.clear();
    segment->bits = 0;
    e->writer = createBitSink(&segment->bytes);
    if (!e->writer) {
        e->ok = false;
        return;
    }
    startProgressiveValues(e);
    writeBands(e);
    endProgressiveValues(e);
    segment->bits = bitsWritten(e->writer);
    flushBitWriter(e->writer);
    releaseBitSink(e->writer);
    e->writer = nullptr;
}

// Writes every level from `coarsest` down to `finest` with detail of e's
// component into segments[L]; levels without detail get empty segments.
void writeComponentLevels(ProgressiveEncoder* e, int32_t coarsest, int32_t finest, std::vector<Segment>* segments)
{
    const PicturePlan& plan = *e->plan;
    for (int32_t L = coarsest; L >= finest && e->ok; L--) {
        Segment& segment = (*segments)[L];
        if (!plan.levelHasDetail[L]) {
            segment.bytes.clear();
            segment.bits = 0;
            continue;
        }
        e->level = L;
        writeLevelSegment(e, &segment, [](ProgressiveEncoder* w) {
            for (int32_t b = 0; b < 3 && w->ok; b++)
                writeProgressiveBand(w, b);
        });
    }
}

// The bands of a level walked apart from its coder. With value coder 0 and
// map coder 0 or 1 only the value coder writes, and each band's walk reads
// and marks only that band's flags and its children's: the walks may run on
// other threads while the coder codes the symbols they keep, band by band.
struct BandWalks {
    std::vector<uint16_t> symbols[3];
    std::atomic<int32_t> state[3] = {{0}, {0}, {0}}; // 0 not taken, 1 being walked, 2 walked
    std::mutex lock;
    std::condition_variable walked;
};

bool walksBandsApart(const ProgressiveEncoder& e)
{
    return e.valueCoder == 0 && (e.mapCoder == 0 || e.mapCoder == 1);
}

// Undoes the last pass over band b of e's level, which marked what it coded
// significant; nothing else touches the level's flags.
void untestBand(const ProgressiveEncoder& e, int32_t b)
{
    uint8_t* const* rows = e.flagRows[e.component].data();
    BandRect rect = bandRect(e.plan->height, e.plan->width, e.level, b);
    for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
        for (int32_t col = rect.colStart; col < rect.colEnd; col++)
            if (rows[r][col] == FLAG_SIGNIFICANT)
                rows[r][col] = FLAG_UNTESTED;
}

// Takes band b of e's level unless another thread has: undoes the last pass
// over it where `untest`, then, where `walk`, records its symbols.
void walkBand(const ProgressiveEncoder& e, int32_t b, bool untest, bool walk, BandWalks* walks)
{
    int32_t free = 0;
    if (!walks->state[b].compare_exchange_strong(free, 1))
        return;
    if (untest)
        untestBand(e, b);
    if (walk) {
        ProgressiveEncoder walker;
        walker.plan = e.plan;
        walker.mapCoder = e.mapCoder;
        walker.valueCoder = e.valueCoder;
        walker.component = e.component;
        walker.level = e.level;
        walker.flagRows[e.component] = e.flagRows[e.component];
        walker.rowCases = e.rowCases;
        walker.columnCases = e.columnCases;
        walker.recorded = &walks->symbols[b];
        writeProgressiveBand(&walker, b);
    }
    {
        std::lock_guard<std::mutex> hold(walks->lock);
        walks->state[b] = 2;
    }
    walks->walked.notify_all();
}

// Codes e's level into *segment from the bands' recorded symbols, walking
// the bands no other thread has taken.
void codeWalkedLevel(ProgressiveEncoder* e, bool untest, BandWalks* walks, Segment* segment)
{
    writeLevelSegment(e, segment, [&](ProgressiveEncoder* w) {
        for (int32_t b = 0; b < 3 && w->ok; b++) {
            walkBand(*w, b, untest, true, walks);
            {
                std::unique_lock<std::mutex> hold(walks->lock);
                walks->walked.wait(hold, [&] { return walks->state[b] == 2; });
            }
            codeRecordedValues(w, walks->symbols[b]);
            std::vector<uint16_t>().swap(walks->symbols[b]);
        }
    });
}

void appendSegment(BitReader* writer, const Segment& segment)
{
    size_t whole = static_cast<size_t>(segment.bits / 8);
    writeByteRun(writer, segment.bytes.data(), whole);
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
        ProgressiveEncoder e;
        setUpComponent(&e, header, plan, static_cast<int32_t>(c));
        writeComponentLevels(&e, plan.levels - 1, 0, &segments[c]);
        tearDown(&e);
        ok[c] = e.ok;
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

struct FinestLevelStream {
    const PicturePlan* plan = nullptr;
    Segment head; // the header and the lowest bands
    std::vector<Segment> segments[3];
    ProgressiveEncoder encoders[3];
    bool finestWritten = false;
};

bool writesComponentsApart(const StreamHeader& header)
{
    return header.decodeMode == 1 && (header.mapCoder == 1 || (header.mapCoder == 0 && header.valueCoder == 0));
}

FinestLevelStream* writeAllButFinestLevel(const StreamHeader& header, const PicturePlan& plan, int32_t threads)
{
    if (!writesComponentsApart(header) || plan.levels <= 0)
        return nullptr;
    auto* stream = new FinestLevelStream;
    stream->plan = &plan;
    BitReader* writer = createBitSink(&stream->head.bytes);
    bool ok = writer != nullptr;
    if (ok) {
        writeStreamHeader(writer, header);
        for (int32_t c = 0; c < plan.components; c++)
            writeLowestBand(writer, plan.component[c].lowest);
        stream->head.bits = bitsWritten(writer);
        flushBitWriter(writer);
        releaseBitSink(writer);
    }
    bool written[3] = {true, true, true};
    runTasks(threads, static_cast<size_t>(plan.components), [&](size_t c) {
        ProgressiveEncoder& e = stream->encoders[c];
        stream->segments[c].resize(static_cast<size_t>(plan.levels));
        setUpComponent(&e, header, plan, static_cast<int32_t>(c));
        writeComponentLevels(&e, plan.levels - 1, 1, &stream->segments[c]);
        written[c] = e.ok;
    });
    for (int32_t c = 0; c < plan.components; c++)
        ok = ok && written[c];
    if (!ok) {
        releaseFinestLevelStream(stream);
        return nullptr;
    }
    return stream;
}

bool writeFinestLevel(FinestLevelStream* stream, int32_t threads, std::vector<uint8_t>* out)
{
    const PicturePlan& plan = *stream->plan;
    bool ok[3] = {true, true, true};
    if (threads > 1 && walksBandsApart(stream->encoders[0])) {
        // The first component's level takes most of the time: each
        // component's coder and its three band walks are tasks of their own.
        bool untest = stream->finestWritten;
        bool live[3];
        BandWalks walks[3];
        for (int32_t c = 0; c < plan.components; c++) {
            stream->encoders[c].level = 0;
            live[c] = stream->encoders[c].ok;
        }
        runTasks(threads, static_cast<size_t>(plan.components) * 4, [&](size_t task) {
            int32_t c = static_cast<int32_t>(task / 4);
            int32_t part = static_cast<int32_t>(task % 4);
            ProgressiveEncoder& e = stream->encoders[c];
            if (part > 0)
                walkBand(e, part - 1, untest, live[c] && plan.levelHasDetail[0], &walks[c]);
            else if (live[c] && plan.levelHasDetail[0])
                codeWalkedLevel(&e, untest, &walks[c], &stream->segments[c][0]);
            else if (live[c])
                stream->segments[c][0] = Segment();
            if (part == 0)
                ok[c] = e.ok;
        });
    } else {
        runTasks(threads, static_cast<size_t>(plan.components), [&](size_t c) {
            ProgressiveEncoder& e = stream->encoders[c];
            e.level = 0;
            for (int32_t b = 0; b < 3 && stream->finestWritten; b++)
                untestBand(e, b);
            writeComponentLevels(&e, 0, 0, &stream->segments[c]);
            ok[c] = e.ok;
        });
    }
    stream->finestWritten = true;
    for (int32_t c = 0; c < plan.components; c++)
        if (!ok[c])
            return false;
    out->clear();
    BitReader* writer = createBitSink(out);
    if (!writer)
        return false;
    appendSegment(writer, stream->head);
    for (int32_t L = plan.levels - 1; L >= 0; L--) {
        writeBit(writer, plan.levelHasDetail[L]);
        if (!plan.levelHasDetail[L])
            continue;
        for (int32_t c = 0; c < plan.components; c++)
            appendSegment(writer, stream->segments[c][L]);
    }
    flushBitWriter(writer);
    releaseBitSink(writer);
    return true;
}

int64_t detailBits(const FinestLevelStream* stream, int32_t L)
{
    int64_t bits = 0;
    for (int32_t c = 0; c < stream->plan->components; c++)
        bits += stream->segments[c][L].bits;
    return bits;
}

int64_t bitsBeforeFinestLevel(const FinestLevelStream* stream)
{
    int64_t bits = stream->head.bits + stream->plan->levels;
    for (int32_t L = 1; L < stream->plan->levels; L++)
        bits += detailBits(stream, L);
    return bits;
}

void releaseFinestLevelStream(FinestLevelStream* stream)
{
    if (!stream)
        return;
    for (int32_t c = 0; c < 3; c++)
        if (stream->encoders[c].plan)
            tearDown(&stream->encoders[c]);
    delete stream;
}

bool writeProgressiveStream(BitReader* writer, const StreamHeader& header, const PicturePlan& plan,
                            int32_t threads)
{
    writeStreamHeader(writer, header);
    for (int32_t c = 0; c < plan.components; c++)
        writeLowestBand(writer, plan.component[c].lowest);
    if (threads > 1 && plan.components > 1 && plan.levels > 0 && writesComponentsApart(header)) {
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

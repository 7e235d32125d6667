#include "codec/encoder/progressive_writer.h"

#include <atomic>
#include <memory>
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
// component into segments[L], each band by writeBand(e, L, b) (by default
// its pass); levels without detail get empty segments.
template <class WriteBand>
void writeComponentLevels(ProgressiveEncoder* e, int32_t coarsest, int32_t finest, std::vector<Segment>* segments,
                          WriteBand&& writeBand)
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
        writeLevelSegment(e, &segment, [&](ProgressiveEncoder* w) {
            for (int32_t b = 0; b < 3 && w->ok; b++)
                writeBand(w, L, b);
        });
    }
}

void writeComponentLevels(ProgressiveEncoder* e, int32_t coarsest, int32_t finest, std::vector<Segment>* segments)
{
    writeComponentLevels(e, coarsest, finest, segments,
                         [](ProgressiveEncoder* w, int32_t, int32_t b) { writeProgressiveBand(w, b); });
}

// The bands of a component's levels walked apart from its coder. With value
// coder 0 and map coder 0 or 1 only the value coder writes, and a band's walk
// reads and marks only flags of its own level and the next finer one: the
// bands of a level may be walked on other threads, once the coarser level's
// walks are done, while the coder codes the symbols they keep, band by band.
struct BandWalks {
    explicit BandWalks(int32_t levels)
        : symbols(static_cast<size_t>(levels) * 3), state(new std::atomic<int32_t>[static_cast<size_t>(levels) * 3])
    {
        for (size_t k = 0; k < symbols.size(); k++)
            state[k] = 0;
    }

    // The coder's word that its encoder is set up, live or not.
    void open(bool live)
    {
        {
            std::lock_guard<std::mutex> hold(lock);
            opened = live ? 1 : -1;
        }
        walked.notify_all();
    }

    // Waits for the coder's word; whether the bands may be walked.
    bool waitOpen()
    {
        std::unique_lock<std::mutex> hold(lock);
        walked.wait(hold, [&] { return opened != 0; });
        return opened > 0;
    }

    // Waits until band b of level L is walked.
    void waitFor(int32_t L, int32_t b)
    {
        std::unique_lock<std::mutex> hold(lock);
        walked.wait(hold, [&] { return state[3 * L + b] == 2; });
    }

    std::vector<std::vector<uint16_t>> symbols; // by 3 * level + band
    std::unique_ptr<std::atomic<int32_t>[]> state; // 0 not taken, 1 being walked, 2 walked
    int32_t opened = 0; // under the lock
    std::mutex lock;
    std::condition_variable walked;
};

bool walksBandsApart(int32_t mapCoder, int32_t valueCoder)
{
    return valueCoder == 0 && (mapCoder == 0 || mapCoder == 1);
}

// Undoes the last pass over band b of level L, which marked what it coded
// significant; nothing else touches the level's flags.
void untestBand(const ProgressiveEncoder& e, int32_t L, int32_t b)
{
    uint8_t* const* rows = e.flagRows[e.component].data();
    BandRect rect = bandRect(e.plan->height, e.plan->width, L, b);
    for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
        for (int32_t col = rect.colStart; col < rect.colEnd; col++)
            if (rows[r][col] == FLAG_SIGNIFICANT)
                rows[r][col] = FLAG_UNTESTED;
}

// Takes band b of level L of e's component unless another thread has: undoes
// the last pass over it where `untest`, then records its symbols. Reads only
// what e's coder leaves alone while it codes.
void walkBand(const ProgressiveEncoder& e, int32_t L, int32_t b, bool untest, BandWalks* walks)
{
    int32_t free = 0;
    if (!walks->state[3 * L + b].compare_exchange_strong(free, 1))
        return;
    if (untest)
        untestBand(e, L, b);
    ProgressiveEncoder walker;
    walker.plan = e.plan;
    walker.mapCoder = e.mapCoder;
    walker.valueCoder = e.valueCoder;
    walker.component = e.component;
    walker.level = L;
    walker.flagRows[e.component] = e.flagRows[e.component];
    walker.rowCases = e.rowCases;
    walker.columnCases = e.columnCases;
    walker.recorded = &walks->symbols[3 * L + b];
    writeProgressiveBand(&walker, b);
    {
        std::lock_guard<std::mutex> hold(walks->lock);
        walks->state[3 * L + b] = 2;
    }
    walks->walked.notify_all();
}

// A walking task: takes the bands of levels coarsest .. finest with detail
// that no other thread has taken, level by level.
void walkLevels(const ProgressiveEncoder& e, int32_t coarsest, int32_t finest, bool untest, BandWalks* walks)
{
    for (int32_t L = coarsest; L >= finest; L--) {
        if (!e.plan->levelHasDetail[L])
            continue;
        for (int32_t b = 0; b < 3; b++)
            walkBand(e, L, b, untest, walks);
        // The next level's walks read the marks this one leaves.
        for (int32_t b = 0; b < 3; b++)
            walks->waitFor(L, b);
    }
}

// Codes levels coarsest .. finest of e's component into segments[L] (as
// writeComponentLevels) from the bands' recorded symbols, walking the bands
// no other thread has taken.
void codeWalkedLevels(ProgressiveEncoder* e, int32_t coarsest, int32_t finest, bool untest, BandWalks* walks,
                      std::vector<Segment>* segments)
{
    writeComponentLevels(e, coarsest, finest, segments, [&](ProgressiveEncoder* w, int32_t L, int32_t b) {
        walkBand(*w, L, b, untest, walks);
        walks->waitFor(L, b);
        std::vector<uint16_t>& symbols = walks->symbols[3 * L + b];
        codeRecordedValues(w, symbols);
        std::vector<uint16_t>().swap(symbols);
    });
}

// Writes levels coarsest .. finest of every component of `plan` into
// segments[c]: each component's coder and three walking tasks are tasks of
// their own, so that the largest component no longer holds one core alone.
// The coder's task sets encoders[c] up with prepare(c) first (the walks wait
// for it) and calls finish(c) once the levels are written. Where `untest`,
// the levels were written before. False where a coder failed.
template <class Prepare, class Finish>
bool writeWalkedComponents(const PicturePlan& plan, ProgressiveEncoder* encoders, int32_t coarsest, int32_t finest,
                           bool untest, std::vector<Segment>* segments, int32_t threads, Prepare&& prepare,
                           Finish&& finish)
{
    constexpr size_t kTasks = 4;
    std::vector<std::unique_ptr<BandWalks>> walks;
    for (int32_t c = 0; c < plan.components; c++)
        walks.push_back(std::make_unique<BandWalks>(plan.levels));
    runTasks(threads, static_cast<size_t>(plan.components) * kTasks, [&](size_t task) {
        size_t c = task / kTasks;
        BandWalks* w = walks[c].get();
        if (task % kTasks == 0) {
            prepare(c);
            bool live = encoders[c].ok;
            w->open(live);
            if (live)
                codeWalkedLevels(&encoders[c], coarsest, finest, untest, w, &segments[c]);
            // Every band is walked: the walks no longer read the encoder.
            finish(c);
        } else if (w->waitOpen()) {
            walkLevels(encoders[c], coarsest, finest, untest, w);
        }
    });
    for (int32_t c = 0; c < plan.components; c++)
        if (!encoders[c].ok)
            return false;
    return true;
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
    if (walksBandsApart(header.mapCoder, header.valueCoder)) {
        ProgressiveEncoder encoders[3];
        ok[0] = writeWalkedComponents(
            plan, encoders, plan.levels - 1, 0, false, segments.data(), threads,
            [&](size_t c) { setUpComponent(&encoders[c], header, plan, static_cast<int32_t>(c)); },
            [&](size_t c) {
                tearDown(&encoders[c]);
                // Its flags go as soon as it is written.
                std::vector<uint8_t>().swap(encoders[c].flagData[c]);
            });
    } else {
        runTasks(threads, static_cast<size_t>(plan.components), [&](size_t c) {
            ProgressiveEncoder e;
            setUpComponent(&e, header, plan, static_cast<int32_t>(c));
            writeComponentLevels(&e, plan.levels - 1, 0, &segments[c]);
            tearDown(&e);
            ok[c] = e.ok;
        });
    }
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
    bool walked = threads > 1 && walksBandsApart(header.mapCoder, header.valueCoder);
    auto prepare = [&](size_t c) {
        stream->segments[c].resize(static_cast<size_t>(plan.levels));
        setUpComponent(&stream->encoders[c], header, plan, static_cast<int32_t>(c));
    };
    if (walked) {
        written[0] = writeWalkedComponents(plan, stream->encoders, plan.levels - 1, 1, false, stream->segments,
                                           threads, prepare, [](size_t) {});
    } else {
        runTasks(threads, static_cast<size_t>(plan.components), [&](size_t c) {
            prepare(c);
            writeComponentLevels(&stream->encoders[c], plan.levels - 1, 1, &stream->segments[c]);
            written[c] = stream->encoders[c].ok;
        });
    }
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
    const ProgressiveEncoder& first = stream->encoders[0];
    if (threads > 1 && walksBandsApart(first.mapCoder, first.valueCoder)) {
        ok[0] = writeWalkedComponents(plan, stream->encoders, 0, 0, stream->finestWritten, stream->segments, threads,
                                      [](size_t) {}, [](size_t) {});
    } else {
        runTasks(threads, static_cast<size_t>(plan.components), [&](size_t c) {
            ProgressiveEncoder& e = stream->encoders[c];
            for (int32_t b = 0; b < 3 && stream->finestWritten; b++)
                untestBand(e, 0, b);
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
    // One component gains where its bands are walked apart from its coder.
    bool apart = plan.components > 1 || walksBandsApart(header.mapCoder, header.valueCoder);
    if (threads > 1 && apart && plan.levels > 0 && writesComponentsApart(header)) {
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

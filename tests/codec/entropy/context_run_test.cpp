// Symbols decoded on a context run against decodeContextSymbol one by one:
// the same symbols, and after each detach the same reader and model, from
// memory and from short blocks, with plain bit reads between runs.
#include "codec/core/bit_reader.h"
#include "codec/entropy/context_model.h"
#include "codec/entropy/context_run.h"
#include "tests/codec/entropy/model_checks.h"
#include "tests/support/bit_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Hands out the data in blocks whose lengths follow a seeded sequence, so
// that two feeds of the same data and seed give the same blocks.
struct BlockFeed {
    const std::vector<uint8_t>* data;
    std::mt19937 lengths;
    uint32_t longest;
    size_t next = 0;

    static int32_t fetch(void* context, const uint8_t** bytes)
    {
        BlockFeed* feed = static_cast<BlockFeed*>(context);
        const size_t left = feed->data->size() - feed->next;
        if (left == 0)
            return 0;
        size_t n = 1 + feed->lengths() % feed->longest;
        n = n < left ? n : left;
        *bytes = feed->data->data() + feed->next;
        feed->next += n;
        return static_cast<int32_t>(n);
    }
};

// Memory-mode readers over the same bytes, or block readers over the same
// blocks (whose cursors count the bytes taken).
void expectSameReader(const BitReader* a, const BitReader* b)
{
    ASSERT_EQ(a->mask, b->mask);
    ASSERT_EQ(a->currentByte, b->currentByte);
    if (a->blockSource)
        ASSERT_EQ(a->cursor, b->cursor);
    else
        ASSERT_EQ(a->cursor - reinterpret_cast<uintptr_t>(a->buffer), b->cursor - reinterpret_cast<uintptr_t>(b->buffer));
    ASSERT_EQ(a->endOfData, b->endOfData);
    ASSERT_EQ(a->windowNext, b->windowNext);
    ASSERT_EQ(a->windowEnd, b->windowEnd);
}

struct Trial {
    int32_t maxOrder;
    uint32_t longestBlock; // 0: memory mode
    bool plainReads;       // a few plain bit reads between runs
    bool values;           // decodeRunValue instead of decodeRunSymbol
    bool aborts;           // now and then exclusions left as by an aborted step
};

// Decodes bytes on runs of random length and symbol by symbol, comparing
// each result and, after every run, both readers and models.
void decodeOnRuns(const std::vector<uint8_t>& bytes, const Trial& trial, uint32_t seed)
{
    BitReader* readers[2];
    ContextModel* models[2];
    BlockFeed feeds[2] = {{&bytes, std::mt19937(seed), trial.longestBlock},
                          {&bytes, std::mt19937(seed), trial.longestBlock}};
    for (int i = 0; i < 2; i++) {
        if (trial.longestBlock == 0) {
            readers[i] = createMemoryReader(bytes);
        } else {
            readers[i] = createBitReader(0);
            attachBlockSource(readers[i], BlockFeed::fetch, &feeds[i]);
        }
        models[i] = createContextModel();
        startContextDecoder(trial.maxOrder, readers[i], models[i]);
    }
    std::mt19937 random(seed);
    int32_t decoded = 0;
    for (int run = 0; run < 4000 && !(readers[1]->endOfData & 1); run++) {
        const int32_t length = 1 + static_cast<int32_t>(random() % 120);
        if (trial.aborts && random() % 3 == 0)
            for (ContextModel* model : models)
                totalizeTable(model, model->contexts[model->currentOrder]);
        ContextRun onRun = attachContextRun(readers[0], models[0]);
        for (int32_t n = 0; n < length; n++, decoded++) {
            const int32_t fast = trial.values ? decodeRunValue(&onRun) : decodeRunSymbol(&onRun);
            const int32_t plain = trial.values ? decodeContextValue(readers[1], models[1])
                                               : decodeContextSymbol(readers[1], models[1]);
            ASSERT_EQ(fast, plain) << "symbol " << decoded;
        }
        detachContextRun(onRun);
        expectSameReader(readers[0], readers[1]);
        if (run % 8 == 0)
            expectSameModel(models[0], models[1]);
        if (trial.plainReads && random() % 4 == 0) {
            const int n = static_cast<int>(random() % 12);
            ASSERT_EQ(readBits(readers[0], n), readBits(readers[1], n));
            expectSameReader(readers[0], readers[1]);
        }
    }
    expectSameModel(models[0], models[1]);
    for (int i = 0; i < 2; i++) {
        releaseContextModel(models[i]);
        releaseBitReader(readers[i]);
    }
}

// Symbols as the value coder sends them, with rescales: many distinct
// symbols first, then a few frequent ones; values above 252 now and then.
std::vector<int32_t> skewedSymbols(std::mt19937& random, int32_t count, bool values)
{
    std::vector<int32_t> symbols;
    for (int32_t i = 0; i < count; i++) {
        const int32_t r = static_cast<int32_t>(random() % 1000);
        int32_t s = i < count / 2 || r >= 700 ? r % 230 : r % 4;
        if (values && r < 15)
            s = 253 + static_cast<int32_t>(random() % 60000);
        symbols.push_back(s);
    }
    return symbols;
}

// Two decoders of the same bytes, each after the same `skip` symbols one by one.
struct DecoderPair {
    BitReader* readers[2];
    ContextModel* models[2];

    DecoderPair(const std::vector<uint8_t>& bytes, int32_t maxOrder, int32_t skip)
    {
        for (int i = 0; i < 2; i++) {
            readers[i] = createMemoryReader(bytes);
            models[i] = createContextModel();
            startContextDecoder(maxOrder, readers[i], models[i]);
            for (int32_t n = 0; n < skip; n++)
                decodeContextSymbol(readers[i], models[i]);
        }
    }

    ~DecoderPair()
    {
        for (int i = 0; i < 2; i++) {
            releaseContextModel(models[i]);
            releaseBitReader(readers[i]);
        }
    }
};

} // namespace

TEST(ContextRun, ValidStreamsDecodeAsSymbolBySymbol)
{
    std::mt19937 random(21);
    for (int32_t maxOrder = 0; maxOrder <= 2; maxOrder++)
        for (uint32_t longest : {0u, 3u, 11u, 40u})
            for (bool values : {false, true}) {
                SCOPED_TRACE(testing::Message() << "order " << maxOrder << " blocks " << longest << " values " << values);
                std::vector<int32_t> symbols = skewedSymbols(random, 16000, values);
                symbols.push_back(-1);
                const std::vector<uint8_t> bytes = encodeSymbols(symbols, maxOrder, values);
                decodeOnRuns(bytes, {maxOrder, longest, false, values, false}, static_cast<uint32_t>(random()));
            }
}

TEST(ContextRun, CutAndNoisyStreamsDecodeAsSymbolBySymbol)
{
    // A stream cut short ends inside a run; noise escapes below order -2,
    // leaves exclusions and places counts outside the scale. Plain reads
    // between runs shift the coder off its bits; exclusions left before a
    // run must be honoured by its first step.
    std::mt19937 random(22);
    for (int trial = 0; trial < 48; trial++) {
        std::vector<uint8_t> bytes;
        if (trial % 2 == 0) {
            bytes = encodeSymbols(skewedSymbols(random, 4000, false), 1);
            bytes.resize(bytes.size() * (1 + random() % 9) / 10);
        } else {
            bytes.resize(100 + random() % 2000);
            for (uint8_t& b : bytes)
                b = static_cast<uint8_t>(random());
        }
        const Trial how{trial % 3, trial % 4 == 1 ? 0u : 1u + trial % 13, trial % 3 != 0, trial % 5 == 0,
                        trial % 4 >= 2};
        SCOPED_TRACE(trial);
        decodeOnRuns(bytes, how, static_cast<uint32_t>(random()));
    }
}

TEST(ContextRun, NarrowingMatchesTheSixteenBitRegisters)
{
    // Every state the decoder reaches: low <= high, renormalised (so that the
    // interval is wider than any scale), any code and input bits after it.
    std::mt19937 random(23);
    for (int trial = 0; trial < 200000; trial++) {
        uint32_t a = random() & 0xFFFFu, b = random() & 0xFFFFu;
        const NarrowedInterval start = settleInterval(a < b ? a : b, a < b ? b : a);
        const uint32_t scale = 1 + random() % (trial % 2 ? 0x3FFEu : 40u);
        uint32_t lowCount = random() % scale, highCount = lowCount + 1 + random() % (scale - lowCount);
        if (trial % 7 == 0)
            lowCount = 0, highCount = scale; // the whole scale: nothing moves
        const uint32_t code = random() & 0xFFFFu;
        const uint32_t bits = random(); // the next 32 input bits

        const NarrowedInterval n = narrowInterval(start.low, start.high, static_cast<int32_t>(lowCount),
                                                  static_cast<int32_t>(highCount), static_cast<int32_t>(scale));
        const uint32_t taken = n.shifts ? bits >> (32 - n.shifts) : 0u;
        const uint32_t expectedCode = (((code << n.shifts) | taken) ^ n.flip) & 0xFFFFu;

        ContextRun run{};
        run.low = start.low << 16;
        run.high = start.high << 16 | 0xFFFFu;
        run.code = uint64_t{code} << kRunWindowBits | uint64_t{bits} << (kRunWindowBits - 32);
        run.held = 32;
        const uint32_t r = start.high - start.low + 1;
        narrowRun(&run, r * lowCount / scale, r * highCount / scale);
        ASSERT_EQ(runLow(run), n.low) << trial;
        ASSERT_EQ(runHigh(run), n.high) << trial;
        ASSERT_EQ(runCode(run), expectedCode) << trial;
        ASSERT_EQ(run.held, 32 - n.shifts) << trial;
        ASSERT_EQ(run.low & 0xFFFFu, 0u);
        ASSERT_EQ(run.high & 0xFFFFu, 0xFFFFu);
    }
}

TEST(ContextRun, CodeBelowLowDecodesAsSymbolBySymbol)
{
    // No stream puts code below low, but registers set so must take the
    // general step on the run too, not the walk over the table.
    std::mt19937 random(24);
    for (int32_t maxOrder = 0; maxOrder <= 2; maxOrder++) {
        const std::vector<uint8_t> bytes = encodeSymbols(skewedSymbols(random, 3000, false), maxOrder);
        for (int32_t skip : {40, 700, 2500}) {
            SCOPED_TRACE(testing::Message() << "order " << maxOrder << " after " << skip);
            DecoderPair pair(bytes, maxOrder, skip);
            BitReader* const* readers = pair.readers;
            ContextModel* const* models = pair.models;
            ASSERT_GT(models[0]->low, 0);
            models[0]->code = static_cast<uint16_t>(models[0]->low - 1 - random() % models[0]->low);
            models[1]->code = models[0]->code;
            ContextRun onRun = attachContextRun(readers[0], models[0]);
            ASSERT_NE(onRun.table, nullptr);
            ASSERT_EQ(decodeRunSymbol(&onRun), decodeContextSymbol(readers[1], models[1]));
            detachContextRun(onRun);
            expectSameReader(readers[0], readers[1]);
            expectSameModel(models[0], models[1]);
        }
    }
}

TEST(ContextRun, TablesAtTheScaleLimitsDecodeAsSymbolBySymbol)
{
    // The common step's scale test, on tables whose counts add up to every
    // sum from just below the rescale limit to past it, to sums that wrap as
    // 16-bit totals, and to none at all.
    std::mt19937 random(25);
    for (int32_t maxOrder = 0; maxOrder <= 1; maxOrder++) {
        const std::vector<uint8_t> bytes = encodeSymbols(skewedSymbols(random, 3000, false), maxOrder);
        std::vector<int32_t> sums = {0, 1, 32767, 32768, 40000};
        for (int32_t sum = kContextRescaleTotal - 70; sum <= kContextRescaleTotal + 2; sum++)
            sums.push_back(sum);
        for (const int32_t sum : sums) {
            SCOPED_TRACE(testing::Message() << "order " << maxOrder << " sum " << sum);
            DecoderPair pair(bytes, maxOrder, 2000);
            BitReader* const* readers = pair.readers;
            ContextModel* const* models = pair.models;
            // The same counts in both models' current tables, largest first.
            const int32_t entries = models[0]->contexts[maxOrder]->maxIndex + 1;
            if (entries == 0 || sum > 254 * entries)
                continue;
            for (int i = 0; i < 2; i++) {
                ContextTable* t = models[i]->contexts[maxOrder];
                for (int32_t e = 0; e < entries; e++)
                    t->stats[e].count = static_cast<uint8_t>(sum / entries + (e < sum % entries ? 1 : 0));
                t->countSum = sum;
                refreshEscape(t);
            }
            ContextRun onRun = attachContextRun(readers[0], models[0]);
            ASSERT_NE(onRun.table, nullptr);
            for (int32_t n = 0; n < 40; n++)
                ASSERT_EQ(decodeRunSymbol(&onRun), decodeContextSymbol(readers[1], models[1])) << "symbol " << n;
            detachContextRun(onRun);
            expectSameReader(readers[0], readers[1]);
            expectSameModel(models[0], models[1]);
        }
    }
}

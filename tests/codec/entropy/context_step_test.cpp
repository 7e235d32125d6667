// The decoder's coding steps against the whole-table totals they replace:
// same scale, intervals, rescaling and exclusions, on valid streams and on
// noise, and the caches the steps rely on stay true.
#include "codec/core/alloc.h"
#include "codec/entropy/arithmetic_coder.h"
#include "codec/entropy/context_model.h"
#include "codec/entropy/context_step.h"
#include "tests/codec/entropy/model_checks.h"
#include "tests/support/bit_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

// decodeContextSymbol written plainly over totalizeTable.
int32_t referenceDecode(BitReader* reader, ContextModel* model)
{
    if (reader->endOfData & 1)
        return 0;
    int16_t* totals = model->totals;
    int32_t symbol = 256;
    while (symbol == 256) {
        ContextTable* table = model->contexts[model->currentOrder];
        totalizeTable(model, table);
        SymbolRange range;
        range.scale = static_cast<uint16_t>(totals[0]);
        int16_t count = currentCount(&range, model);
        if (count < 0 || count >= totals[0])
            return -1;
        int32_t c = 1;
        while (count < totals[c])
            c++;
        range.highCount = static_cast<uint16_t>(totals[c - 1]);
        range.lowCount = static_cast<uint16_t>(totals[c]);
        if (c == 1) {
            if (model->currentOrder == -2) {
                removeSymbol(reader, &range, model);
                return -1;
            }
            model->currentOrder--;
        } else {
            symbol = table->stats[c - 2].symbol;
            if (model->currentOrder < -1)
                symbol = -symbol;
        }
        removeSymbol(reader, &range, model);
    }
    if (symbol == -1)
        return symbol;
    updateContextModel(model, symbol);
    addSymbolToContexts(model, symbol);
    return symbol;
}

// Counts never grow down a table and countSum is their sum.
void expectCachesHold(const ContextTable* table, int32_t order)
{
    int32_t sum = 0;
    for (int32_t i = 0; i <= table->maxIndex; i++) {
        sum += table->stats[i].count;
        if (i > 0) {
            ASSERT_GE(table->stats[i - 1].count, table->stats[i].count) << "order " << order << " entry " << i;
        }
    }
    ASSERT_EQ(table->countSum, sum) << "order " << order;
    if (table->links)
        for (int32_t i = 0; i <= table->maxIndex; i++)
            if (table->links[i])
                expectCachesHold(table->links[i], order + 1);
}

// The order-1 context cached for a symbol is the one the order-0 table links.
void expectFollowersHold(const ContextModel* model)
{
    if (model->maxOrder != 1)
        return;
    const ContextTable* root = model->contexts[0];
    for (int32_t s = 0; s < 256; s++) {
        if (!model->followers[s])
            continue;
        int32_t i = 0;
        while (i <= root->maxIndex && root->stats[i].symbol != s)
            i++;
        ASSERT_LE(i, root->maxIndex) << "symbol " << s;
        ASSERT_EQ(model->followers[s], root->links[i]) << "symbol " << s;
    }
}

// Decodes the same bits with both decoders, comparing every result and,
// every `every` symbols, the whole models. Before symbol n with n % every ==
// every - 1, abortEvery (when set) marks the exclusions of the current table
// in both models, as a step ended by a count the model cannot place does.
void decodeBoth(const std::vector<uint8_t>& bytes, int32_t maxOrder, int32_t symbols, int32_t every,
                bool abortEvery = false)
{
    BitReader* readers[2];
    ContextModel* models[2];
    for (int i = 0; i < 2; i++) {
        readers[i] = createBitReader(0);
        readers[i]->buffer = const_cast<uint8_t*>(bytes.data());
        resetBitReader(readers[i]);
        readers[i]->byteCount = static_cast<int32_t>(bytes.size());
        models[i] = createContextModel();
        startContextDecoder(maxOrder, readers[i], models[i]);
    }
    for (int32_t n = 0; n < symbols; n++) {
        if (abortEvery && n % every == every - 1)
            for (ContextModel* model : models)
                totalizeTable(model, model->contexts[model->currentOrder]);
        int32_t fast = decodeContextSymbol(readers[0], models[0]);
        int32_t plain = referenceDecode(readers[1], models[1]);
        ASSERT_EQ(fast, plain) << "symbol " << n;
        if (n % every == 0 || readers[0]->endOfData) {
            expectSameModel(models[0], models[1]);
            expectCachesHold(models[0]->contexts[0], 0);
            expectFollowersHold(models[0]);
        }
        if (readers[0]->endOfData)
            break;
    }
    expectSameModel(models[0], models[1]);
    for (int i = 0; i < 2; i++) {
        releaseContextModel(models[i]);
        releaseBitReader(readers[i]);
    }
}

} // namespace

// The escape count by table and reciprocal against the two divisions it
// replaces, for every table size, largest count and a spread of sums (an
// empty table has no counts).
TEST(ContextStep, EscapedScaleMatchesDividing)
{
    for (int32_t maxIndex = -1; maxIndex <= 255; maxIndex++)
        for (int32_t max = 0; max <= (maxIndex < 0 ? 0 : 255); max++)
            for (int16_t counted : {0, 1, 300, 16000, -5}) {
                int16_t expected = 1;
                if (max != 0) {
                    const int16_t m = static_cast<int16_t>(maxIndex);
                    int16_t t = static_cast<int16_t>((256 - m) * m);
                    t = static_cast<int16_t>(t / 256 / max);
                    expected = static_cast<int16_t>(t + 1 + counted);
                }
                ASSERT_EQ(escapedScale(maxIndex, static_cast<uint8_t>(max), counted), expected)
                    << "maxIndex " << maxIndex << " max " << max << " counted " << counted;
            }
}

TEST(ContextStep, TotalsAndIntervalsMatchTheWholeTable)
{
    std::mt19937 random(5);
    ContextModel* model = createContextModel();
    for (int trial = 0; trial < 2000; trial++) {
        // A sorted table as the model keeps them, sometimes heavy enough to rescale.
        const int32_t entries = 1 + static_cast<int32_t>(random() % 256);
        std::vector<uint8_t> symbols(256);
        for (int i = 0; i < 256; i++)
            symbols[i] = static_cast<uint8_t>(i);
        std::shuffle(symbols.begin(), symbols.end(), random);
        ContextTable table{};
        ContextTable plain{};
        table.maxIndex = plain.maxIndex = entries - 1;
        table.stats = static_cast<SymbolStat*>(allocChecked(entries * sizeof(SymbolStat)));
        plain.stats = static_cast<SymbolStat*>(allocChecked(entries * sizeof(SymbolStat)));
        int32_t top = trial % 5 == 0 ? 254 : 1 + static_cast<int32_t>(random() % 60);
        for (int32_t i = 0; i < entries; i++) {
            top = top == 0 ? 0 : top - static_cast<int32_t>(random() % 3 == 0);
            table.stats[i] = plain.stats[i] = {symbols[i], static_cast<uint8_t>(top)};
            table.countSum += top;
        }
        std::memset(model->excluded, 0, sizeof model->excluded);
        const bool check = trial % 2 == 1;
        if (check)
            for (int s = 0; s < 256; s++)
                model->excluded[s] = random() % 3 == 0;
        model->currentOrder = trial % 7 == 0 ? -2 : 0;

        uint8_t excluded[256];
        std::memcpy(excluded, model->excluded, sizeof excluded);
        totalizeTable(model, &plain);
        std::memcpy(model->excluded, excluded, sizeof excluded);

        StepTotals totals = totalizeStep(model, &table, check && model->currentOrder != -2);
        ASSERT_EQ(totals.scale, model->totals[0]) << "trial " << trial;
        ASSERT_EQ(totals.counted, model->totals[1]) << "trial " << trial;
        ASSERT_EQ(table.maxIndex, plain.maxIndex);
        ASSERT_EQ(0, std::memcmp(table.stats, plain.stats, (table.maxIndex + 1) * sizeof(SymbolStat)));
        for (int32_t count = 0; count < totals.scale; count++) {
            SymbolRange range{};
            int32_t entry = findCountEntry(model, &table, static_cast<int16_t>(count), totals,
                                           check && model->currentOrder != -2, &range);
            int32_t c = 1;
            while (count < model->totals[c])
                c++;
            ASSERT_EQ(entry, c - 2) << "trial " << trial << " count " << count;
            ASSERT_EQ(range.highCount, static_cast<uint16_t>(model->totals[c - 1]));
            ASSERT_EQ(range.lowCount, static_cast<uint16_t>(model->totals[c]));
        }
        freeChecked(table.stats);
        freeChecked(plain.stats);
    }
    releaseContextModel(model);
}

TEST(ContextStep, ValidStreamsDecodeAsWithWholeTables)
{
    std::mt19937 random(9);
    for (int32_t maxOrder = 0; maxOrder <= 2; maxOrder++) {
        SCOPED_TRACE(maxOrder);
        // Many even symbols first, so that the totals reach 16383, then a few
        // frequent ones, whose counts reach 255: both rescales happen.
        std::vector<int32_t> symbols;
        for (int i = 0; i < 60000; i++) {
            int32_t r = static_cast<int32_t>(random() % 1000);
            symbols.push_back(i < 40000 || r >= 500 ? r % 230 : r % 3);
            if (i % 20000 == 19999)
                symbols.push_back(-2);
        }
        symbols.push_back(-1);
        decodeBoth(encodeSymbols(symbols, maxOrder), maxOrder, static_cast<int32_t>(symbols.size()), 997);
    }
}

TEST(ContextStep, NoiseDecodesAsWithWholeTables)
{
    // Noise reaches the end marker, escapes below order -2 and counts outside
    // the scale; decoding goes on after each with the exclusions they leave.
    std::mt19937 random(3);
    for (int trial = 0; trial < 40; trial++) {
        std::vector<uint8_t> bytes(200 + random() % 3000);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(random());
        decodeBoth(bytes, trial % 3, 1 << 20, 61);
    }
}

TEST(ContextStep, ExclusionsLeftByAnAbortedStepAreHonoured)
{
    std::mt19937 random(4);
    for (int32_t maxOrder = 0; maxOrder <= 1; maxOrder++) {
        SCOPED_TRACE(maxOrder);
        std::vector<int32_t> symbols;
        for (int i = 0; i < 5000; i++)
            symbols.push_back(static_cast<int32_t>(random() % 7) * static_cast<int32_t>(random() % 5));
        symbols.push_back(-1);
        decodeBoth(encodeSymbols(symbols, maxOrder), maxOrder, static_cast<int32_t>(symbols.size()), 37, true);
    }
}

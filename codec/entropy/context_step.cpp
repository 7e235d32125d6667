#include "codec/entropy/context_step.h"

#include "codec/core/bit_reader.h"
#include "codec/entropy/arithmetic_coder.h"
#include "codec/entropy/context_model.h"

#include <cstring>

namespace {

// The counts of the table's excluded entries. Where the model knows each
// symbol's entry, only the excluded symbols are looked at.
uint32_t excludedSum(const ContextModel* model, const ContextTable* table)
{
    const SymbolStat* stats = table->stats;
    const int32_t entries = table->maxIndex + 1;
    uint32_t sum = 0;
    if (model->excludedCount < entries) {
        if (table == model->rootTable) {
            for (int32_t k = 0; k < model->excludedCount; k++) {
                const uint8_t symbol = model->excludedList[k];
                const int32_t i = model->rootPosition[symbol];
                if (i < entries && stats[i].symbol == symbol && model->excluded[symbol])
                    sum += stats[i].count;
            }
            return sum;
        }
        if (table == model->orderMinus1 && entries == 256) {
            // Entry s holds symbol s unless the table was changed from outside.
            uint32_t listed = 0;
            bool inPlace = true;
            for (int32_t k = 0; k < model->excludedCount; k++) {
                const uint8_t symbol = model->excludedList[k];
                inPlace = inPlace && stats[symbol].symbol == symbol;
                listed += model->excluded[symbol] ? stats[symbol].count : 0u;
            }
            if (inPlace)
                return listed;
        }
    }
    for (int32_t i = 0; i < entries; i++)
        sum += model->excluded[stats[i].symbol] ? stats[i].count : 0u;
    return sum;
}

} // namespace

StepTotals totalizeStep(ContextModel* model, ContextTable* table, bool checkExclusions)
{
    for (;;) {
        const SymbolStat* stats = table->stats;
        const int32_t entries = table->maxIndex + 1;
        uint32_t sum = static_cast<uint32_t>(table->countSum);
        // Counts never grow down a table (an update first moves its entry to the
        // front of its run of equal counts), so the first is the largest.
        const uint8_t max = entries > 0 ? stats[0].count : 0;
        if (checkExclusions)
            sum -= excludedSum(model, table);
        // The running sums wrap as signed 16-bit values.
        const int16_t counted = static_cast<int16_t>(sum);
        const int16_t scale = escapedScale(table->maxIndex, max, counted);
        if (scale < kContextRescaleTotal)
            return {scale, counted};
        rescaleTable(model, table);
    }
}

namespace {

// The search of findCountEntry below the escape; Check selects whether
// excluded symbols count.
template <bool Check>
int32_t searchEntries(const ContextModel* model, const ContextTable* table, int16_t count, int16_t rest,
                      SymbolRange* range)
{
    const SymbolStat* stats = table->stats;
    const SymbolStat* end = stats + table->maxIndex + 1;
    const uint8_t* excluded = model->excluded;
    for (const SymbolStat* at = stats; at != end; at++) {
        const int16_t above = rest;
        // Excluded entries count 0, without a branch: in the shorter contexts
        // they come in no order.
        uint32_t counted = at->count;
        if (Check)
            counted &= 0u - static_cast<uint32_t>(excluded[at->symbol] == 0);
        rest = static_cast<int16_t>(rest - static_cast<int32_t>(counted));
        if (count >= rest) {
            range->lowCount = static_cast<uint16_t>(rest);
            range->highCount = static_cast<uint16_t>(above);
            return static_cast<int32_t>(at - stats);
        }
    }
    // Not reached: the last entry brings rest down to 0 <= count.
    range->lowCount = 0;
    range->highCount = static_cast<uint16_t>(rest);
    return table->maxIndex;
}

} // namespace

int32_t findCountEntry(const ContextModel* model, const ContextTable* table, int16_t count, StepTotals totals,
                       bool checkExclusions, SymbolRange* range)
{
    // Entries are stacked from the end: entry j owns [sum of the counted
    // entries after j, that sum + its own count), the escape sits on top.
    if (count >= totals.counted) {
        range->lowCount = static_cast<uint16_t>(totals.counted);
        range->highCount = static_cast<uint16_t>(totals.scale);
        return -1;
    }
    return checkExclusions ? searchEntries<true>(model, table, count, totals.counted, range)
                           : searchEntries<false>(model, table, count, totals.counted, range);
}

void markExclusions(ContextModel* model, const ContextTable* table)
{
    // Byte stores may alias anything: the loop keeps the list's length and the
    // table's end in locals.
    const SymbolStat* stats = table->stats;
    uint8_t* excluded = model->excluded;
    uint8_t* list = model->excludedList;
    int32_t listed = model->excludedCount;
    bool marked = false;
    // The last entry is never excluded: a shorter context still counts it.
    const int32_t last = table->maxIndex;
    for (int32_t i = 0; i < last; i++) {
        const uint8_t symbol = stats[i].symbol;
        if (stats[i].count != 0 && !excluded[symbol]) {
            excluded[symbol] = 1;
            // Flags reset from outside leave stale entries: the list stops at 256.
            if (listed < 256)
                list[listed++] = symbol;
            marked = true;
        }
    }
    model->excludedCount = listed;
    if (marked)
        model->exclusionsSet = 1;
}

void clearExclusions(ContextModel* model)
{
    std::memset(model->excluded, 0, sizeof model->excluded);
    model->excludedCount = 0;
    model->exclusionsSet = 0;
}

int32_t decodeContextSymbol(BitReader* reader, ContextModel* model)
{
    if (!model)
        return -1;
    return decodeContextSymbolInline(reader, model);
}

int32_t decodeContextSymbolRest(BitReader* reader, ContextModel* model)
{
    if (reader->endOfData & 1)
        return 0;
    return continueContextSymbol(reader, model, model->exclusionsSet != 0);
}

int32_t continueContextSymbol(BitReader* reader, ContextModel* model, bool excluding)
{
    // Each step computes only what totalizeTable would give it. Exclusions are
    // marked only where they outlive the step: after an escape, or when the
    // decode ends without the model update that clears them.
    for (;;) {
        ContextTable* table = model->contexts[model->currentOrder];
        const bool checkExclusions = excluding && model->currentOrder != -2;
        const StepTotals totals = totalizeStep(model, table, checkExclusions);
        SymbolRange range;
        range.scale = static_cast<uint16_t>(totals.scale);
        int16_t count = currentCount(&range, model);
        // Only corrupt or ended data give a count the totals cannot place.
        if (count < 0 || count >= totals.scale) {
            markExclusions(model, table);
            return -1;
        }
        const int32_t entry = findCountEntry(model, table, count, totals, checkExclusions, &range);
        removeSymbol(reader, &range, model);
        if (entry < 0) {
            markExclusions(model, table);
            excluding = true;
            // No order below -2: stop as after the end marker.
            if (model->currentOrder == -2)
                return -1;
            model->currentOrder--;
            continue;
        }
        int32_t symbol = table->stats[entry].symbol;
        if (model->currentOrder < -1)
            symbol = -symbol;
        if (symbol == kContextEndMarker) {
            markExclusions(model, table);
            return symbol;
        }
        updateCodedContexts(model, symbol, entry);
        addSymbolToContexts(model, symbol);
        return symbol;
    }
}

int32_t decodeContextValue(BitReader* reader, ContextModel* model)
{
    if (!model)
        return -1;
    return decodeContextValueInline(reader, model);
}

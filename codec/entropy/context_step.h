// Decoding with the context model (decodeContextSymbol, decodeContextValue)
// step by step without building the whole totals table: the same scale,
// rescaling, intervals and exclusions as totalizeTable, computed only as far
// as each step needs them.
#pragma once
#include "codec/core/bit_reader.h"
#include "codec/core/force_inline.h"
#include "codec/entropy/arithmetic_coder.h"
#include "codec/entropy/context_model.h"

#include <cstdint>

// A table whose scale would reach this is halved first.
inline constexpr int32_t kContextRescaleTotal = 0x3FFF;

// totals[0] and totals[1] of totalizeTable: the scale and the sum of the
// counted entries (the bottom of the escape interval).
struct StepTotals {
    int16_t scale;
    int16_t counted;
};

// The escape count's parts. (256 - m) * m / 256 depends on the table's last
// index m alone and is at most 64; dividing it by the largest count (1..255)
// equals multiplying by the count's reciprocal rounded up to 16 fraction
// bits, as the error stays below 64 / 65536 < 1 / 255.
struct EscapeTables {
    uint8_t base[256];
    uint32_t reciprocal[256];
};

constexpr EscapeTables makeEscapeTables()
{
    EscapeTables tables{};
    for (int32_t m = 0; m < 256; m++)
        tables.base[m] = static_cast<uint8_t>((256 - m) * m / 256);
    for (int32_t max = 1; max < 256; max++)
        tables.reciprocal[max] = static_cast<uint32_t>((65536 + max - 1) / max);
    return tables;
}

inline constexpr EscapeTables kEscapeTables = makeEscapeTables();

// The escape count of a table with counts, which falls with its largest
// count max (excluded entries included); maxIndex is -1..255. It is 1 for
// max 0, a table without counts.
inline uint32_t escapeCount(int32_t maxIndex, uint8_t max)
{
    return (kEscapeTables.base[maxIndex & 0xFF] * kEscapeTables.reciprocal[max] >> 16) + 1;
}

// Sets the table's cached escape count from its first count, the largest.
inline void cacheEscape(ContextTable* table, uint8_t firstCount)
{
    table->escape = static_cast<int32_t>(escapeCount(table->maxIndex, firstCount));
}

// Sets the table's cached escape count after its last index or its first
// count changed.
inline void refreshEscape(ContextTable* table)
{
    cacheEscape(table, table->maxIndex >= 0 ? table->stats[0].count : 0);
}

// totals[0] from totals[1]: the counted sum plus the escape count, in 16
// bits; 1 for a table without counts (max 0).
inline int16_t escapedScale(int32_t maxIndex, uint8_t max, int16_t counted)
{
    if (max == 0)
        return 1;
    return static_cast<int16_t>(escapeCount(maxIndex, max) + counted);
}

// The totals of the table in the model's current order, rescaling the table
// as totalizeTable does. checkExclusions false asserts that none of the
// table's symbols is excluded (or that the order is -2); the table's countSum
// is then used and must be current.
StepTotals totalizeStep(ContextModel* model, ContextTable* table, bool checkExclusions);

// The entry whose interval holds count (0 <= count < totals.scale), with its
// interval in range->lowCount and highCount; -1 for the escape.
int32_t findCountEntry(const ContextModel* model, const ContextTable* table, int16_t count, StepTotals totals,
                       bool checkExclusions, SymbolRange* range);

// Excludes the symbols of the table's entries with a nonzero count, all but
// the last entry's.
void markExclusions(ContextModel* model, const ContextTable* table);
// Clears every exclusion.
void clearExclusions(ContextModel* model);

// updateContextModel, told that the symbol is entry codedEntry of the table
// of the current order (or -1 when unknown), which saves searching it there.
void updateCodedContexts(ContextModel* model, int32_t symbol, int32_t codedEntry);

// Moves the entry at `at` to the front of its run of equal counts (with its
// link and, in the order-0 table, its known position) and returns where it
// went: counting it once more there keeps counts from growing down the table.
ZR_INLINE SymbolStat* moveToFrontOfEqualCountsAt(ContextModel* model, ContextTable* table, SymbolStat* at)
{
    SymbolStat* stats = table->stats;
    const uint8_t count = at->count;
    SymbolStat* front = at;
    while (front != stats && front[-1].count == count)
        front--;
    if (front != at) {
        const uint8_t symbol = at->symbol;
        at->symbol = front->symbol;
        front->symbol = symbol;
        const int32_t i = static_cast<int32_t>(at - stats);
        const int32_t j = static_cast<int32_t>(front - stats);
        if (table->links) {
            ContextTable* link = table->links[i];
            table->links[i] = table->links[j];
            table->links[j] = link;
        }
        if (table == model->rootTable) {
            model->rootPosition[symbol] = static_cast<uint8_t>(j);
            model->rootPosition[at->symbol] = static_cast<uint8_t>(i);
        }
    }
    return front;
}

// The same for entry i, returning the entry it went to.
ZR_INLINE int32_t moveToFrontOfEqualCounts(ContextModel* model, ContextTable* table, int32_t i)
{
    return static_cast<int32_t>(moveToFrontOfEqualCountsAt(model, table, table->stats + i) - table->stats);
}

// Counts entry i of the table once more, first moving it to the front of its
// run of equal counts so that counts never grow down the table.
ZR_INLINE void countContextEntry(ContextModel* model, ContextTable* table, int32_t i)
{
    i = moveToFrontOfEqualCounts(model, table, i);
    table->countSum++;
    const uint8_t count = ++table->stats[i].count;
    if (i == 0)
        cacheEscape(table, count);
    if (count == 255)
        rescaleTable(model, table);
}

// decodeContextSymbol for a model (not null) without the common step below.
int32_t decodeContextSymbolRest(BitReader* reader, ContextModel* model);
// The same from the model's current order on, within a symbol: after an
// escape, excluding says that the exclusions are to be honoured.
int32_t continueContextSymbol(BitReader* reader, ContextModel* model, bool excluding);

// The common step of decodeContextSymbol, inlined into the symbol loops: a
// symbol found in the longest context, with no exclusions, no rescaling and
// no escape. -1, with nothing read or changed, when the step is not of that
// kind. Otherwise the same registers, bits and model updates as the general
// step.
ZR_INLINE int32_t decodeCommonContextStep(BitReader* reader, ContextModel* model)
{
    const int32_t order = model->currentOrder;
    if ((reader->endOfData & 1) || model->exclusionsSet != 0 || order != model->maxOrder || order < 0)
        return -1;
    ContextTable* table = model->contexts[order];
    const int32_t maxIndex = table->maxIndex;
    if (maxIndex < 0)
        return -1;
    const SymbolStat* stats = table->stats;
    const int16_t counted = static_cast<int16_t>(table->countSum);
    const int16_t scale = escapedScale(maxIndex, stats[0].count, counted);
    if (scale >= kContextRescaleTotal || counted <= 0 || scale <= counted)
        return -1;
    SymbolRange range;
    range.scale = static_cast<uint16_t>(scale);
    const int16_t count = currentCount(&range, model);
    if (count < 0 || count >= counted)
        return -1;
    // Entries are stacked from the end below the escape; the counts add up to
    // countSum, so the walk stops by the last entry.
    int32_t rest = counted;
    int32_t above;
    int32_t entry = -1;
    do {
        entry++;
        above = rest;
        rest -= stats[entry].count;
    } while (count < rest);
    range.lowCount = static_cast<uint16_t>(rest);
    range.highCount = static_cast<uint16_t>(above);
    removeSymbol(reader, &range, model);
    const uint8_t symbol = stats[entry].symbol;
    countContextEntry(model, table, entry);
    if (order == 1) {
        // The order-1 context after a symbol never changes once made.
        ContextTable* next = model->followers[symbol];
        if (next) {
            model->contexts[1] = next;
            return symbol;
        }
    }
    addSymbolToContexts(model, symbol);
    return symbol;
}

// decodeContextSymbol and decodeContextValue with the common step inline.
ZR_INLINE int32_t decodeContextSymbolInline(BitReader* reader, ContextModel* model)
{
    const int32_t symbol = decodeCommonContextStep(reader, model);
    return symbol >= 0 ? symbol : decodeContextSymbolRest(reader, model);
}

ZR_INLINE int32_t decodeContextValueInline(BitReader* reader, ContextModel* model)
{
    const int32_t s = decodeContextSymbolInline(reader, model);
    if (s < 253)
        return s;
    const int32_t high = decodeContextSymbolInline(reader, model);
    const int32_t low = decodeContextSymbolInline(reader, model);
    return low + high * 253;
}

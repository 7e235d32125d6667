// Decoding with the context model (decodeContextSymbol, decodeContextValue)
// step by step without building the whole totals table: the same scale,
// rescaling, intervals and exclusions as totalizeTable, computed only as far
// as each step needs them.
#pragma once
#include <cstdint>

struct ContextModel;
struct ContextTable;
struct SymbolRange;

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

// totals[0] from totals[1]: the counted sum plus the escape count, which
// falls with the largest count (excluded entries included) of the table.
// maxIndex is -1..255, and max is 0 only for a table without counts.
inline int16_t escapedScale(int32_t maxIndex, uint8_t max, int16_t counted)
{
    if (max == 0)
        return 1;
    const uint32_t t = kEscapeTables.base[maxIndex & 0xFF] * kEscapeTables.reciprocal[max] >> 16;
    return static_cast<int16_t>(t + 1 + counted);
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

// updateContextModel, told that the symbol is entry codedEntry of the table
// of the current order (or -1 when unknown), which saves searching it there.
void updateCodedContexts(ContextModel* model, int32_t symbol, int32_t codedEntry);

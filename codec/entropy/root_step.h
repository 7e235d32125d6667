// The order-0 step after an order-1 context escaped: the symbols the escape
// excludes marked by their positions in the order-0 table, and the walk down
// that table which skips them, four entries at a time.
#pragma once
#include "codec/entropy/context_model.h"

#include <cstdint>

// Two bytes per order-0 position, laid out as SymbolStat: the second 0xFF
// where the step counts the entry, 0 where the escape excludes its symbol;
// the first the entry of the escaped table that holds the same symbol, if
// any (otherwise any value: comparing the symbol tells).
struct RootMarks {
    uint8_t bytes[2 * 256];
};

// Marks the order-0 positions of the symbols of an order-1 table (all its
// counted entries but the last are excluded) and sums the excluded order-0
// counts into *excludedSum. False when a symbol is not where the model's
// rootPosition says. The model's order-0 table has at least one entry.
bool markRootPositions(const ContextModel* model, const ContextTable* table, RootMarks* marks, int32_t* excludedSum);

// The entry of the escaped table whose symbol sits at order-0 position p, if any.
inline int32_t rootEntryInTable(const RootMarks& marks, int32_t p)
{
    return marks.bytes[2 * p];
}

// The order-0 entry whose interval holds the count x / r (r > 0 and
// 0 <= x < *rest * r), walking down from *rest (the counted sum) over the
// entries the marks count:
// the first after which x >= *rest * r, with *above the sum before it. -1
// when the entries run out.
int32_t findRootEntry(const ContextTable* root, const RootMarks& marks, int32_t x, int32_t r, int32_t* rest,
                      int32_t* above);

#include "codec/entropy/context_model.h"

#include "codec/core/alloc.h"
#include "codec/core/bit_reader.h"
#include "codec/core/force_inline.h"
#include "codec/entropy/arithmetic_coder.h"
#include "codec/entropy/context_step.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t kLargestValue = 252 * 253 + 252;

// A zero-filled block taken from the model's budget.
void* allocZeroed(ContextModel* model, size_t bytes)
{
    void* block = allocFromBudget(model->budget, bytes);
    if (!block)
        return nullptr;
    model->heldBytes += bytes;
    std::memset(block, 0, bytes);
    return block;
}

void freeHeld(ContextModel* model, void* block, size_t bytes)
{
    freeChecked(block);
    returnToBudget(model->budget, bytes);
    model->heldBytes -= bytes < model->heldBytes ? bytes : model->heldBytes;
}

// Moves a block of oldBytes to a new size: the first keptBytes are copied,
// the rest is zero. Null (the old block stays) when the allocation failed.
void* resizeBlock(ContextModel* model, void* block, size_t oldBytes, size_t keptBytes, size_t newBytes)
{
    void* grown = allocZeroed(model, newBytes);
    if (!grown)
        return nullptr;
    if (block) {
        std::memcpy(grown, block, keptBytes < newBytes ? keptBytes : newBytes);
        freeHeld(model, block, oldBytes);
    }
    return grown;
}

// An allocation inside the model failed: fatal for the server and the
// encoder, else the decode ends with its data and reports the budget failed.
void failModel(ContextModel* model, const char* message)
{
    AllocBudget* budget = model->budget;
    if (!budget || budget->exitOnFailure)
        fatalError(message);
    budget->failed = 1;
    if (model->reader)
        endReaderData(model->reader);
}

// Makes room for maxIndex + 1 entries in a block that holds the first
// maxIndex (none when the block is null). Blocks grow to powers of two, so that
// a table gaining entries one by one is not copied for each, and start with
// room for a few entries: most contexts gain several.
constexpr size_t kLeastRoom = 8;

template <class T>
bool growBlock(ContextModel* model, T** block, int32_t* capacity, int32_t maxIndex)
{
    const size_t count = static_cast<size_t>(maxIndex) + 1;
    if (*block && static_cast<size_t>(*capacity) >= count)
        return true;
    const size_t oldCount = *block ? count - 1 : 0;
    const size_t oldRoom = *block && static_cast<size_t>(*capacity) > oldCount ? *capacity : oldCount;
    const size_t room = std::bit_ceil(count < kLeastRoom ? kLeastRoom : count);
    void* grown = resizeBlock(model, *block, oldRoom * sizeof(T), oldCount * sizeof(T), room * sizeof(T));
    if (!grown)
        return false;
    *block = static_cast<T*>(grown);
    *capacity = static_cast<int32_t>(room);
    return true;
}

// The table has just gained its last entry.
bool growLinks(ContextModel* model, ContextTable* table)
{
    return growBlock(model, &table->links, &table->linksCapacity, table->maxIndex);
}

bool growStats(ContextModel* model, ContextTable* table)
{
    return growBlock(model, &table->stats, &table->statsCapacity, table->maxIndex);
}

int32_t findSymbol(const ContextTable* table, int32_t symbol)
{
    for (int32_t i = 0; i <= table->maxIndex; i++) {
        if (table->stats[i].symbol == symbol)
            return i;
    }
    return -1;
}

// findSymbol for any table; the order-0 table knows where each of its symbols sits.
int32_t findEntry(const ContextModel* model, const ContextTable* table, uint8_t symbol)
{
    if (table != model->rootTable)
        return findSymbol(table, symbol);
    const int32_t i = model->rootPosition[symbol];
    return i <= table->maxIndex && table->stats[i].symbol == symbol ? i : -1;
}

void releaseTree(ContextTable* table)
{
    if (table->links) {
        for (int32_t i = 0; i <= table->maxIndex; i++) {
            if (table->links[i])
                releaseTree(table->links[i]);
        }
        freeChecked(table->links);
    }
    if (table->stats)
        freeChecked(table->stats);
    freeChecked(table);
}

int32_t clampOrder(int32_t maxOrder)
{
    return maxOrder > 7 ? 7 : (maxOrder < -2 ? -2 : maxOrder);
}

} // namespace

[[noreturn]] void fatalError(const char* message)
{
    std::fprintf(stderr, "%s\n", message);
    std::fflush(stderr);
    std::exit(-1);
}

ContextModel* createContextModel(AllocBudget* budget)
{
    ContextModel* model = static_cast<ContextModel*>(allocFromBudget(budget, sizeof(ContextModel)));
    if (!model)
        return nullptr;
    std::memset(static_cast<void*>(model), 0, sizeof *model);
    model->budget = budget;
    model->heldBytes = sizeof(ContextModel);
    return model;
}

void initContextModel(ContextModel* model)
{
    model->currentOrder = model->maxOrder;

    // A failure leaves the model releasable; it is not decoded with again.
    ContextTable** table = static_cast<ContextTable**>(allocZeroed(model, 10 * sizeof(ContextTable*)));
    if (!table)
        return failModel(model, "Failure #1: allocating context table!");
    model->contexts = table + 2;

    ContextTable* nullTable = static_cast<ContextTable*>(allocZeroed(model, sizeof(ContextTable)));
    if (!nullTable)
        return failModel(model, "Failure #2: allocating null table!");
    nullTable->maxIndex = -1;
    nullTable->escape = 1;
    model->contexts[-1] = nullTable;
    model->rootTable = nullptr;
    model->orderMinus1 = nullTable;
    model->excludedCount = 0;
    std::memset(model->rootPosition, 0, sizeof model->rootPosition);

    for (int32_t k = 0; k <= model->maxOrder; k++) {
        model->contexts[k] = allocateNextOrderTable(model, model->contexts[k - 1], 0, model->contexts[k - 1]);
        if (!model->contexts[k])
            return;
        if (k == 0)
            model->rootTable = model->contexts[0];
    }

    if (nullTable->stats)
        freeHeld(model, nullTable->stats, static_cast<size_t>(nullTable->statsCapacity) * sizeof(SymbolStat));
    nullTable->statsCapacity = 0;
    nullTable->stats = static_cast<SymbolStat*>(allocZeroed(model, 256 * sizeof(SymbolStat)));
    if (!nullTable->stats) {
        nullTable->maxIndex = -1;
        return failModel(model, "Failure #3: allocating null table!");
    }
    nullTable->maxIndex = 255;
    nullTable->statsCapacity = 256;
    for (int32_t i = 0; i < 256; i++) {
        nullTable->stats[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(100 / (i + 1) + 1)};
        nullTable->countSum += nullTable->stats[i].count;
    }
    refreshEscape(nullTable);

    ContextTable* markerTable = static_cast<ContextTable*>(allocZeroed(model, sizeof(ContextTable)));
    if (!markerTable)
        return failModel(model, "Failure #4: allocating null table!");
    model->contexts[-2] = markerTable;
    markerTable->stats = static_cast<SymbolStat*>(allocZeroed(model, 2 * sizeof(SymbolStat)));
    if (!markerTable->stats)
        return failModel(model, "Failure #5: allocating null table!");
    markerTable->maxIndex = 1;
    markerTable->statsCapacity = 2;
    markerTable->stats[0] = {2, 1};
    markerTable->stats[1] = {1, 1};
    markerTable->countSum = 2;
    refreshEscape(markerTable);

    std::memset(model->excluded, 0, sizeof model->excluded);
    model->exclusionsSet = 0;
    model->excludedCount = 0;
    std::memset(model->followers, 0, sizeof model->followers);
}

void totalizeTable(ContextModel* model, ContextTable* table)
{
    int16_t* totals = model->totals;
    for (;;) {
        uint8_t max = 0;
        int32_t i = table->maxIndex + 2;
        totals[i] = 0;
        for (; i > 1; i--) {
            const SymbolStat e = table->stats[i - 2];
            totals[i - 1] = totals[i];
            if (e.count != 0 && (model->currentOrder == -2 || model->excluded[e.symbol] == 0))
                totals[i - 1] = static_cast<int16_t>(totals[i - 1] + e.count);
            if (e.count > max)
                max = e.count;
        }
        totals[0] = escapedScale(table->maxIndex, max, totals[1]);
        if (totals[0] < kContextRescaleTotal)
            break;
        rescaleTable(model, table);
    }
    markExclusions(model, table);
}

void rescaleTable(ContextModel* model, ContextTable* table)
{
    if (table->maxIndex == -1)
        return;
    int32_t sum = 0;
    for (int32_t i = 0; i <= table->maxIndex; i++) {
        table->stats[i].count /= 2;
        sum += table->stats[i].count;
    }
    table->countSum = sum;
    if (table->stats[table->maxIndex].count != 0 || table->links) {
        refreshEscape(table);
        return;
    }
    while (table->maxIndex >= 0 && table->stats[table->maxIndex].count == 0)
        table->maxIndex--;
    refreshEscape(table);
    const size_t oldBytes = static_cast<size_t>(table->statsCapacity) * sizeof(SymbolStat);
    if (table->maxIndex < 0) {
        freeHeld(model, table->stats, oldBytes);
        table->stats = nullptr;
        table->statsCapacity = 0;
        return;
    }
    size_t count = static_cast<size_t>(table->maxIndex) + 1;
    void* shrunk = resizeBlock(model, table->stats, oldBytes, count * sizeof(SymbolStat), count * sizeof(SymbolStat));
    if (!shrunk)
        return failModel(model, "Error #11: reallocating stats space!"); // the larger block stays
    table->stats = static_cast<SymbolStat*>(shrunk);
    table->statsCapacity = static_cast<int32_t>(count);
}

void updateTable(ContextModel* model, ContextTable* table, int32_t symbol)
{
    uint8_t byte = static_cast<uint8_t>(symbol);
    int32_t i = findEntry(model, table, byte);
    if (i < 0) {
        i = ++table->maxIndex;
        // A table that already has links keeps them parallel to its entries.
        if (model->currentOrder < model->maxOrder || table->links) {
            if (!growLinks(model, table)) {
                table->maxIndex--;
                return failModel(model, "Error #9: reallocating table space!");
            }
            table->links[i] = nullptr;
        }
        if (!growStats(model, table)) {
            table->maxIndex--;
            return failModel(model, "Error #10: reallocating table space!");
        }
        table->stats[i] = {byte, 0};
        refreshEscape(table);
        if (table == model->rootTable)
            model->rootPosition[byte] = static_cast<uint8_t>(i);
    }

    countContextEntry(model, table, i);
}

int32_t appendLinkedEntryInPlace(ContextTable* table, uint8_t symbol)
{
    // growBlock keeps a block whose capacity holds the new count.
    const int32_t i = table->maxIndex + 1;
    if (!table->links || !table->stats || table->linksCapacity <= i || table->statsCapacity <= i)
        return -1;
    table->maxIndex = i;
    table->links[i] = nullptr;
    table->stats[i] = {symbol, 0};
    refreshEscape(table);
    return i;
}

void updateCodedContexts(ContextModel* model, int32_t symbol, int32_t codedEntry)
{
    // Most symbols are coded in the longest context, which alone is updated.
    if (codedEntry >= 0 && symbol >= 0 && model->currentOrder == model->maxOrder && model->currentOrder >= 0 &&
        !model->exclusionsSet) {
        countContextEntry(model, model->contexts[model->currentOrder], codedEntry);
        return;
    }
    if (symbol >= 0) {
        for (int32_t k = model->currentOrder > 0 ? model->currentOrder : 0; k <= model->maxOrder; k++) {
            if (k == model->currentOrder && codedEntry >= 0)
                countContextEntry(model, model->contexts[k], codedEntry);
            else
                updateTable(model, model->contexts[k], symbol);
        }
    }
    model->currentOrder = model->maxOrder;
    if (model->exclusionsSet)
        clearExclusions(model);
}

void updateContextModel(ContextModel* model, int32_t symbol)
{
    updateCodedContexts(model, symbol, -1);
}

ContextTable* allocateNextOrderTable(ContextModel* model, ContextTable* table, int32_t symbol, ContextTable* lesser)
{
    uint8_t byte = static_cast<uint8_t>(symbol);
    int32_t i = findEntry(model, table, byte);
    if (i < 0) {
        i = ++table->maxIndex;
        // Links first: a table's links, once present, cover all its entries.
        if (!growLinks(model, table)) {
            table->maxIndex--;
            failModel(model, "Failure #6: allocating new table");
            return nullptr;
        }
        table->links[i] = nullptr;
        if (!growStats(model, table)) {
            table->maxIndex--;
            failModel(model, "Failure #7: allocating new table");
            return nullptr;
        }
        table->stats[i] = {byte, 0};
        refreshEscape(table);
        if (table == model->rootTable)
            model->rootPosition[byte] = static_cast<uint8_t>(i);
    } else if (!table->links) {
        if (!growLinks(model, table)) {
            failModel(model, "Failure #6: allocating new table");
            return nullptr;
        }
    }
    ContextTable* next = static_cast<ContextTable*>(allocZeroed(model, sizeof(ContextTable)));
    if (!next) {
        failModel(model, "Failure #8: allocating new table");
        return nullptr;
    }
    next->maxIndex = -1;
    next->escape = 1;
    next->lesser = lesser;
    table->links[i] = next;
    return next;
}

ContextTable* shiftToNextContext(ContextModel* model, ContextTable* table, int32_t symbol, int32_t order)
{
    ContextTable* shorter = table->lesser;
    if (order == 0)
        return shorter->links[0];
    int32_t i = findEntry(model, shorter, static_cast<uint8_t>(symbol));
    if (i >= 0 && shorter->links && shorter->links[i])
        return shorter->links[i];
    ContextTable* newLesser = shiftToNextContext(model, shorter, symbol, order - 1);
    if (!newLesser)
        return nullptr;
    return allocateNextOrderTable(model, shorter, symbol, newLesser);
}

void addSymbolToContexts(ContextModel* model, int32_t symbol)
{
    int32_t maxOrder = model->maxOrder;
    if (maxOrder < 0 || symbol < 0)
        return;
    if (maxOrder == 1) {
        // Every order-1 context hangs off the order-0 table, and the one that
        // follows a symbol never changes once it exists.
        ContextTable*& next = model->followers[static_cast<uint8_t>(symbol)];
        if (!next)
            next = shiftToNextContext(model, model->contexts[1], symbol, 1);
        model->contexts[1] = next;
        return;
    }
    model->contexts[maxOrder] = shiftToNextContext(model, model->contexts[maxOrder], symbol, maxOrder);
    if (!model->contexts[maxOrder])
        return;
    for (int32_t k = maxOrder - 1; k >= 1; k--)
        model->contexts[k] = model->contexts[k + 1]->lesser;
}

void releaseContextModel(ContextModel* model)
{
    if (!model)
        return;
    if (model->contexts) {
        if (model->contexts[0])
            releaseTree(model->contexts[0]);
        for (int32_t k = -2; k <= -1; k++) {
            ContextTable* table = model->contexts[k];
            if (!table)
                continue;
            if (table->stats)
                freeChecked(table->stats);
            if (table->links)
                freeChecked(table->links);
            freeChecked(table);
        }
        freeChecked(model->contexts - 2);
    }
    returnToBudget(model->budget, model->heldBytes);
    freeChecked(model);
}

void startContextDecoder(int32_t maxOrder, BitReader* reader, ContextModel* model)
{
    if (!model)
        return;
    model->maxOrder = clampOrder(maxOrder);
    model->reader = reader;
    initContextModel(model);
    startArithmeticDecoder(reader, model);
}

void endContextDecoder(BitReader* reader, ContextModel* model)
{
    while ((reader->endOfData & 1) == 0) {
        if (readBits(reader, 1) == 1)
            break;
    }
    releaseContextModel(model);
}

void startContextEncoder(int32_t maxOrder, ContextModel* model, int32_t option)
{
    if (option >= 255)
        fatalError("Error: context encoder option must be below 255!");
    model->maxOrder = clampOrder(maxOrder);
    initContextModel(model);
    startArithmeticEncoder(model);
}

namespace {

// What the encoder's ranges take of the totals totalizeTable makes (its
// 16-bit sums and rescaling alike), without writing them: the scale, the sum
// of all counts, and the sums from entry i and from entry i + 1 on.
struct EncoderSums {
    int16_t scale;
    int16_t all;
    int16_t from;
    int16_t after;
};

EncoderSums sumForEncoding(ContextModel* model, ContextTable* table, int32_t i)
{
    for (;;) {
        uint8_t max = 0;
        int16_t sum = 0, from = 0, after = 0;
        for (int32_t j = table->maxIndex; j >= 0; j--) {
            const SymbolStat e = table->stats[j];
            if (j == i)
                after = sum;
            if (e.count != 0 && (model->currentOrder == -2 || model->excluded[e.symbol] == 0))
                sum = static_cast<int16_t>(sum + e.count);
            if (j == i)
                from = sum;
            if (e.count > max)
                max = e.count;
        }
        int16_t scale = escapedScale(table->maxIndex, max, sum);
        if (scale < kContextRescaleTotal)
            return {scale, sum, from, after};
        rescaleTable(model, table);
    }
}

} // namespace

int32_t encodeContextSymbol(BitReader* writer, int32_t symbol, ContextModel* model)
{
    if (symbol < kContextFlushMarker || symbol > 255)
        return kContextSymbolRefused;
    bool escaped = true;
    while (escaped) {
        ContextTable* table = model->contexts[model->currentOrder];
        int32_t c = model->currentOrder == -2 ? -symbol : symbol;
        int32_t i = findSymbol(table, c);
        bool found = i >= 0 && table->stats[i].count > 0;
        EncoderSums sums = sumForEncoding(model, table, found ? i : -1);
        SymbolRange range;
        range.scale = static_cast<uint16_t>(sums.scale);
        if (found) {
            range.lowCount = static_cast<uint16_t>(sums.after);
            range.highCount = static_cast<uint16_t>(sums.from);
            escaped = false;
        } else {
            // Every symbol accepted above is found by order -2 at the latest;
            // the orders below count none of this table's symbols.
            range.lowCount = static_cast<uint16_t>(sums.all);
            range.highCount = static_cast<uint16_t>(sums.scale);
            markExclusions(model, table);
            model->currentOrder--;
        }
        encodeRange(writer, &range, model);
    }
    if (symbol == kContextEndMarker)
        return kContextEndMarker;
    updateContextModel(model, symbol);
    addSymbolToContexts(model, symbol);
    return 0;
}

int32_t encodeContextValue(BitReader* writer, int32_t value, ContextModel* model)
{
    if (value < kContextFlushMarker || value > kLargestValue)
        return kContextSymbolRefused;
    if (value < 253)
        return encodeContextSymbol(writer, value, model);
    encodeContextSymbol(writer, 253, model);
    encodeContextSymbol(writer, value / 253, model);
    return encodeContextSymbol(writer, value % 253, model);
}

void endContextEncoder(BitReader* writer, ContextModel* model)
{
    flushArithmeticEncoder(writer, model);
    releaseContextModel(model);
}

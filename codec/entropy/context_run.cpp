#include "codec/entropy/context_run.h"

#include "codec/core/bit_reader.h"
#include "codec/entropy/context_model.h"

#include <bit>

ContextRun attachContextRun(BitReader* reader, ContextModel* model)
{
    ContextRun run{};
    run.reader = reader;
    run.model = model;
    // After the end only the reader's own path knows what each mode reads.
    if (reader->endOfData != 0) {
        run.next = run.end = run.start = nullptr;
    } else {
        const unsigned mask = reader->mask;
        run.held = mask == 128 ? 0 : std::bit_width(mask);
        if (run.held > 0)
            run.code = uint64_t{reader->currentByte & ((1u << run.held) - 1u)} << (kRunWindowBits - run.held);
        run.next = run.start = reader->windowNext;
        run.end = reader->windowEnd;
    }
    if (!model)
        return run;
    run.low = uint32_t{model->low} << 16;
    run.high = uint32_t{model->high} << 16 | 0xFFFFu;
    run.code |= uint64_t{model->code} << kRunWindowBits;
    if (reader->endOfData == 0 && model->exclusionsSet == 0 && model->maxOrder >= 0 &&
        model->currentOrder == model->maxOrder)
        run.table = model->contexts[model->maxOrder];
    return run;
}

void detachContextRun(const ContextRun& run)
{
    BitReader* reader = run.reader;
    if (run.next != run.start || run.held > 0) {
        // Whole unused bytes go back; a partly used one becomes current.
        const uint8_t* next = run.next - run.held / 8;
        const int32_t part = run.held % 8;
        reader->cursor += static_cast<uintptr_t>(next - run.start);
        reader->windowNext = next;
        if (next != run.start)
            reader->currentByte = next[-1];
        reader->mask = static_cast<uint8_t>(part > 0 ? 1u << (part - 1) : 128u);
    }
    ContextModel* model = run.model;
    if (!model)
        return;
    model->low = static_cast<uint16_t>(runLow(run));
    model->high = static_cast<uint16_t>(runHigh(run));
    model->code = static_cast<uint16_t>(runCode(run));
    if (run.table)
        model->contexts[model->maxOrder] = run.table;
}

ContextRun decodeDetachedSymbol(ContextRun run, int32_t* symbol)
{
    detachContextRun(run);
    *symbol = decodeContextSymbol(run.reader, run.model);
    return attachContextRun(run.reader, run.model);
}

ContextRun rescaleDetached(ContextRun run)
{
    detachContextRun(run);
    rescaleTable(run.model, run.table);
    return attachContextRun(run.reader, run.model);
}

ContextRun addSymbolDetached(ContextRun run, int32_t symbol)
{
    detachContextRun(run);
    addSymbolToContexts(run.model, symbol);
    return attachContextRun(run.reader, run.model);
}

namespace {

// The order-0 step after the run's order-1 table escaped: the root positions
// of the symbols the escape excludes (all of the table's counted entries but
// its last) and the sum of their root counts. False when a symbol is not
// where the root table's positions say.
bool rootExclusions(const ContextModel* model, const ContextTable* table, uint64_t excluded[4], int32_t* sum)
{
    const ContextTable* root = model->rootTable;
    const SymbolStat* stats = table->stats;
    const SymbolStat* rootStats = root->stats;
    int32_t excludedSum = 0;
    for (int32_t i = 0; i < table->maxIndex; i++) {
        if (stats[i].count == 0)
            continue;
        const uint8_t symbol = stats[i].symbol;
        const int32_t p = model->rootPosition[symbol];
        if (p > root->maxIndex || rootStats[p].symbol != symbol)
            return false;
        // A table holds each symbol once, so no position comes twice.
        excluded[p >> 6] |= uint64_t{1} << (p & 63);
        excludedSum += rootStats[p].count;
    }
    *sum = excludedSum;
    return true;
}

// The root entry whose interval holds count, walking down from rest (the
// counted sum) over the entries not excluded; -1 when the counts run out.
int32_t findRootEntry(const ContextTable* root, const uint64_t excluded[4], int32_t count, int32_t* rest,
                      int32_t* above)
{
    const SymbolStat* stats = root->stats;
    int32_t j = 0;
    // Between excluded positions, taken in order, the walk needs no test.
    for (int32_t w = 0; w < 4; w++) {
        for (uint64_t bits = excluded[w]; bits != 0; bits &= bits - 1) {
            const int32_t e = 64 * w + std::countr_zero(bits);
            for (; j < e; j++) {
                *above = *rest;
                *rest -= stats[j].count;
                if (count >= *rest)
                    return j;
            }
            j = e + 1;
        }
    }
    for (; j <= root->maxIndex; j++) {
        *above = *rest;
        *rest -= stats[j].count;
        if (count >= *rest)
            return j;
    }
    return -1;
}

// Detaches after the escape was taken on the run and finishes the symbol the
// general way, from the order below.
ContextRun continueDetached(ContextRun run, int32_t* symbol)
{
    detachContextRun(run);
    ContextModel* model = run.model;
    markExclusions(model, model->contexts[model->currentOrder]);
    model->currentOrder--;
    *symbol = continueContextSymbol(run.reader, model, true);
    return attachContextRun(run.reader, model);
}

} // namespace

ContextRun decodeRunEscape(ContextRun run, int32_t counted, int32_t scale, int32_t* symbol)
{
    ContextModel* model = run.model;
    const ContextTable* root = model->rootTable;
    uint64_t excluded[4] = {};
    int32_t excludedSum = 0;
    if (model->maxOrder != 1 || !root || root->maxIndex < 0 || !rootExclusions(model, run.table, excluded, &excludedSum))
        return decodeDetachedSymbol(run, symbol);

    // The escape, as the general step takes it.
    narrowRunTo(&run, counted, scale, scale);
    if (run.held < kRunStepBits)
        refillContextRun(&run);

    // The order-0 step, where it needs no rescale and finds a symbol there.
    const int32_t rootCounted = root->countSum - excludedSum;
    const int16_t rootScale = escapedScale(root->maxIndex, root->stats[0].count, static_cast<int16_t>(rootCounted));
    if (run.held < kRunStepBits || rootCounted <= 0 || rootCounted >= kContextRescaleTotal ||
        rootScale >= kContextRescaleTotal)
        return continueDetached(run, symbol);
    const int32_t r = static_cast<int32_t>(runHigh(run) - runLow(run)) + 1;
    const int32_t rootCount = countNumerator(runCode(run), runLow(run), rootScale) / r;
    if (rootCount < 0 || rootCount >= rootCounted)
        return continueDetached(run, symbol);
    int32_t rest = rootCounted;
    int32_t above = rest;
    const int32_t entry = findRootEntry(root, excluded, rootCount, &rest, &above);
    if (entry < 0)
        return continueDetached(run, symbol);
    narrowRunTo(&run, rest, above, rootScale);

    // The updates of a symbol found at order 0, on the detached model.
    *symbol = root->stats[entry].symbol;
    detachContextRun(run);
    model->currentOrder = 0;
    updateCodedContexts(model, *symbol, entry);
    addSymbolToContexts(model, *symbol);
    return attachContextRun(run.reader, model);
}

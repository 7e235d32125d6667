#include "codec/entropy/context_run.h"

#include "codec/core/bit_reader.h"
#include "codec/entropy/context_model.h"
#include "codec/entropy/root_step.h"

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

// Detaches after the escape was taken on the run and finishes the symbol the
// general way, from the order below.
ZR_INLINE ContextRun continueDetached(ContextRun run, int32_t* symbol)
{
    detachContextRun(run);
    ContextModel* model = run.model;
    markExclusions(model, model->contexts[model->currentOrder]);
    model->currentOrder--;
    *symbol = continueContextSymbol(run.reader, model, true);
    return attachContextRun(run.reader, model);
}

// The updates of a symbol found at entry `entry` of the order-0 table after
// the run's order-1 table escaped (updateCodedContexts from order 0, then
// addSymbolToContexts), on the run where they need no rescale, allocation or
// new context; else on the detached model.
ZR_INLINE ContextRun updateAfterRootStep(ContextRun run, int32_t entry, const RootMarks& marks)
{
    ContextModel* model = run.model;
    ContextTable* root = model->rootTable;
    ContextTable* table = run.table;
    const uint8_t symbol = root->stats[entry].symbol;
    ContextTable* next = model->followers[symbol];
    // Tables with links rescale without allocating.
    if (next && root->links && table->links) {
        // Not excluded, the symbol is absent from the run's table, counts 0
        // there or is its last entry.
        int32_t i = rootEntryInTable(marks, entry);
        if (i > table->maxIndex || table->stats[i].symbol != symbol)
            i = appendLinkedEntryInPlace(table, symbol);
        if (i >= 0) {
            countContextEntry(model, root, entry);
            countContextEntry(model, table, i);
            run.table = next;
            return run;
        }
    }
    detachContextRun(run);
    model->currentOrder = 0;
    updateCodedContexts(model, symbol, entry);
    addSymbolToContexts(model, symbol);
    return attachContextRun(run.reader, model);
}

} // namespace

ContextRun decodeRunEscape(ContextRun run, int32_t counted, int32_t scale, int32_t* symbol)
{
    ContextModel* model = run.model;
    const ContextTable* root = model->rootTable;
    RootMarks marks;
    int32_t excludedSum = 0;
    if (model->maxOrder != 1 || !root || root->maxIndex < 0 || !markRootPositions(model, run.table, &marks, &excludedSum))
        return decodeDetachedSymbol(run, symbol);

    // The escape, as the general step takes it: [counted, scale) of scale,
    // whose top r * scale / scale is r.
    const uint32_t r = runHigh(run) - runLow(run) + 1;
    narrowRun(&run, divideByScale(r * static_cast<uint32_t>(counted), scaleReciprocal(static_cast<uint32_t>(scale))),
              r);
    if (run.held < kRunStepBits)
        refillContextRun(&run);

    // The order-0 step, where it needs no rescale and finds a symbol there.
    const int32_t rootCounted = root->countSum - excludedSum;
    const int16_t rootScale = escapedScale(root->maxIndex, root->stats[0].count, static_cast<int16_t>(rootCounted));
    if (run.held < kRunStepBits || rootCounted <= 0 || rootCounted >= kContextRescaleTotal ||
        rootScale >= kContextRescaleTotal)
        return continueDetached(run, symbol);
    const int32_t rootR = static_cast<int32_t>(runHigh(run) - runLow(run)) + 1;
    const int32_t x = countNumerator(runCode(run), runLow(run), rootScale);
    if (x < 0 || x >= rootCounted * rootR)
        return continueDetached(run, symbol);
    int32_t rest = rootCounted;
    int32_t above = rest;
    const int32_t entry = findRootEntry(root, marks, x, rootR, &rest, &above);
    if (entry < 0 || rest < 0)
        return continueDetached(run, symbol);
    const uint64_t reciprocal = scaleReciprocal(static_cast<uint32_t>(rootScale));
    narrowRun(&run, divideByScale(static_cast<uint32_t>(rootR * rest), reciprocal),
              divideByScale(static_cast<uint32_t>(rootR * above), reciprocal));
    *symbol = root->stats[entry].symbol;
    return updateAfterRootStep(run, entry, marks);
}

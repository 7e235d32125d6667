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
            run.window = uint64_t{reader->currentByte & ((1u << run.held) - 1u)} << (64 - run.held);
        run.next = run.start = reader->windowNext;
        run.end = reader->windowEnd;
    }
    if (!model)
        return run;
    run.low = model->low;
    run.high = model->high;
    run.code = model->code;
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
    model->low = static_cast<uint16_t>(run.low);
    model->high = static_cast<uint16_t>(run.high);
    model->code = static_cast<uint16_t>(run.code);
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

// Decoding a run of context-model symbols with the coder's registers, the
// current context and a window of input bits in locals (a ContextRun kept by
// value, so that the compiler holds it in registers). Attach before the run
// and detach before anything else reads the bits or the model: the reader and
// the model are then exactly as after decoding the same symbols one by one.
#pragma once
#include "codec/core/bit_reader.h"
#include "codec/core/force_inline.h"
#include "codec/entropy/arithmetic_coder.h"
#include "codec/entropy/context_model.h"
#include "codec/entropy/context_step.h"

#include <bit>
#include <cstdint>

struct ContextRun {
    BitReader* reader;
    ContextModel* model;
    // The longest context while the common step may be taken: a reader
    // before its end, no exclusions, the model at its longest order. Null
    // sends every step the general way.
    ContextTable* table;
    // The coder's low and high registers in the top halves of 32 bits, low
    // followed by zeros and high by ones: shifts then need no masks.
    uint32_t low, high;
    // The code register in bits 63..48, then the next `held` input bits,
    // zeros below them: shifting it takes the bits in. The bits come from the
    // reader's bytes fetched ahead (next..end) and from the current byte;
    // detaching gives back what was not used.
    uint64_t code;
    int32_t held;
    const uint8_t* next;
    const uint8_t* end;
    const uint8_t* start; // the reader's windowNext when attached
};

// At most this many bits enter the code register in one step (16 settled
// plus 14 underflow shifts); held never exceeds kRunWindowBits.
inline constexpr int32_t kRunStepBits = 30;
inline constexpr int32_t kRunWindowBits = 48;

ContextRun attachContextRun(BitReader* reader, ContextModel* model);
// Writes the registers, the context and the unused bits back.
void detachContextRun(const ContextRun& run);
// One decodeContextSymbol on the detached reader and model, attached again.
ContextRun decodeDetachedSymbol(ContextRun run, int32_t* symbol);
// The same for a step whose count fell on the escape of the run's table
// (counted <= count < scale, the totals of a common step). An order-1 model
// takes the escape and the step in the order-0 table on the run where it can.
ContextRun decodeRunEscape(ContextRun run, int32_t counted, int32_t scale, int32_t* symbol);
// Rescales the run's table, and moves on to the context after symbol where
// the model has not made it yet, both on the detached model.
ContextRun rescaleDetached(ContextRun run);
ContextRun addSymbolDetached(ContextRun run, int32_t symbol);

// The registers as the model holds them.
ZR_INLINE uint32_t runLow(const ContextRun& run)
{
    return run.low >> 16;
}

ZR_INLINE uint32_t runHigh(const ContextRun& run)
{
    return run.high >> 16;
}

ZR_INLINE uint32_t runCode(const ContextRun& run)
{
    return static_cast<uint32_t>(run.code >> 48);
}

// Tops the window up with whole bytes while it has room for one more; for a
// window holding fewer than kRunStepBits bits.
ZR_INLINE void refillContextRun(ContextRun* run)
{
    constexpr int32_t kTop = 64 - kRunWindowBits; // the code register's bits
    if (run->end - run->next >= 8) {
        const uint8_t* p = run->next;
        uint64_t bytes = uint64_t{p[0]} << 56 | uint64_t{p[1]} << 48 | uint64_t{p[2]} << 40 | uint64_t{p[3]} << 32 |
                         uint64_t{p[4]} << 24 | uint64_t{p[5]} << 16 | uint64_t{p[6]} << 8 | uint64_t{p[7]};
        const int32_t taken = (kRunWindowBits - run->held) >> 3;
        // taken is 2..6 for held 0..29; keep exactly its bytes.
        bytes &= ~(~uint64_t{0} >> (8 * taken));
        run->code |= bytes >> (kTop + run->held);
        run->held += 8 * taken;
        run->next += taken;
        return;
    }
    while (run->held <= kRunWindowBits - 8 && run->next != run->end) {
        run->code |= uint64_t{*run->next++} << (kRunWindowBits - 8 - run->held);
        run->held += 8;
    }
}

// Narrows the interval to [low + below, low + upTo - 1] (the narrowing's
// quotients) and renormalises, taking the bits from the window (which holds
// at least kRunStepBits of them). As narrowInterval and settleInterval on the
// 16-bit registers for every interval the decoder reaches (low <= high, wider
// than any scale): the same shifts, and the underflow's flip of code.
ZR_INLINE void narrowRun(ContextRun* run, uint32_t below, uint32_t upTo)
{
    uint32_t low = run->low + (below << 16);
    uint32_t high = run->low + (upTo << 16) - 1;
    // Their lowest 16 bits differ, so at most 16 settled bits (bit 0 always
    // differs; saying so spares the count its test for zero).
    const int settled = std::countl_zero((low ^ high) | 1u);
    low <<= settled;
    high = (high << settled) | 0xFFFFu;
    // Then bit 31 of low is 0 and of high 1; underflow shifts follow while low
    // has bit 30 set and high has it clear. Each clears low's bit 31, sets
    // high's and flips code's; code's bit flips once after all of them.
    const uint32_t straddle = low & ~high;
    const int underflow = std::countl_one(straddle << 1);
    run->low = (low << underflow) & 0x7FFFFFFFu;
    run->high = (high << underflow) | 0x8000FFFFu;
    const int shifts = settled + underflow;
    run->code = (run->code << shifts) ^ (uint64_t{straddle & 0x40000000u} << 33);
    run->held -= shifts;
}

// Takes over the run a slow path returns. Through a copy: a run kept in
// registers never has its address given to the slow paths.
ZR_INLINE void setRun(ContextRun* run, const ContextRun next)
{
    *run = next;
}

// The pointer, with the compiler no longer knowing where it came from.
template <class T>
ZR_INLINE T* opaquePointer(T* p)
{
#if defined(__GNUC__)
    asm("" : "+r"(p));
#endif
    return p;
}

// decodeContextSymbol on the run: the common step inline (as
// decodeCommonContextStep, with its bits from the window), anything else on
// the detached model.
ZR_INLINE int32_t decodeRunSymbol(ContextRun* run)
{
    ContextTable* table = run->table;
    if (run->held < kRunStepBits)
        refillContextRun(run);
    if (!table || run->held < kRunStepBits) {
        int32_t symbol;
        setRun(run, decodeDetachedSymbol(*run, &symbol));
        return symbol;
    }
    const int16_t counted = static_cast<int16_t>(table->countSum);
    // escapedScale without its 16-bit wrap: a plain step has 0 < counted and
    // a scale below kContextRescaleTotal (so no wrap), and a largest count
    // above 0 (counts add up to counted). An empty table counts nothing.
    const int32_t escape = table->escape;
    const int32_t scale = counted + escape;
    const uint32_t low = runLow(*run);
    const int32_t r = static_cast<int32_t>(runHigh(*run) - low) + 1;
    // The step's count is x / r. For x >= 0 and r > 0 it is below c exactly
    // when x < c * r, so the walk compares products instead of dividing.
    const int32_t x = countNumerator(runCode(*run), low, scale);
    // 0 < counted and counted + escape < kContextRescaleTotal as one
    // unsigned comparison.
    const bool plain =
        static_cast<uint32_t>(counted - 1) < static_cast<uint32_t>(kContextRescaleTotal - 1 - escape) && r > 0;
    // 0 <= x < counted * r as one unsigned comparison (the product is
    // positive when plain).
    if (!plain || static_cast<uint32_t>(x) >= static_cast<uint32_t>(counted * r)) {
        int32_t symbol;
        if (plain && x >= 0 && x < scale * r)
            setRun(run, decodeRunEscape(*run, counted, scale, &symbol));
        else
            setRun(run, decodeDetachedSymbol(*run, &symbol));
        return symbol;
    }
    SymbolStat* stats = table->stats;
    // Taken before the walk, so that its load does not wait for the walk's
    // exit (often mispredicted).
    const uint64_t reciprocal = scaleReciprocal(static_cast<uint32_t>(scale));
    // The walk keeps the sums times r: each entry then costs one product.
    // The counts add up to countSum, so it stops by the last entry.
    int32_t restR = counted * r;
    SymbolStat* at = stats;
    for (;; at++) {
        restR -= at->count * r;
        if (x >= restR)
            break;
    }
    // The found entry's count is loaded again, which costs less than carrying
    // it and the sum before it through every step of the walk.
    at = opaquePointer(at);
    const int32_t countR = at->count * r;

    // narrowInterval, dividing by the scale through its reciprocal.
    narrowRun(run, divideByScale(static_cast<uint32_t>(restR), reciprocal),
              divideByScale(static_cast<uint32_t>(restR + countR), reciprocal));

    // countContextEntry, with the rescale of a count reaching 255 detached.
    const uint8_t symbol = at->symbol;
    SymbolStat* front = moveToFrontOfEqualCountsAt(run->model, table, at);
    table->countSum++;
    const uint8_t count = ++front->count;
    if (front == stats)
        cacheEscape(table, count);
    if (count == 255) {
        setRun(run, rescaleDetached(*run));
        // A failed rescale ends the data, and with it the common step.
        if (!run->table) {
            setRun(run, addSymbolDetached(*run, symbol));
            return symbol;
        }
    }

    // The order-1 context after a symbol never changes once made. Only a
    // model of order 1 makes them (starting a model clears them all).
    ContextTable* next = run->model->followers[symbol];
    if (next)
        run->table = next;
    else
        setRun(run, addSymbolDetached(*run, symbol));
    return symbol;
}

// decodeContextValue on the run.
ZR_INLINE int32_t decodeRunValue(ContextRun* run)
{
    const int32_t s = decodeRunSymbol(run);
    if (s < 253)
        return s;
    const int32_t high = decodeRunSymbol(run);
    const int32_t low = decodeRunSymbol(run);
    return low + high * 253;
}

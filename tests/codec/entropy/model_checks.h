// Comparing two context models, and streams written by the context encoder.
#pragma once
#include "codec/entropy/context_model.h"
#include "codec/entropy/context_step.h"
#include "tests/support/bit_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

// The table's cached escape count against the one its entries give.
inline void expectCurrentEscape(const ContextTable* t)
{
    ASSERT_EQ(t->escape, static_cast<int32_t>(escapeCount(t->maxIndex, t->maxIndex >= 0 ? t->stats[0].count : 0)));
}

inline void expectSameTree(const ContextTable* a, const ContextTable* b)
{
    ASSERT_EQ(a->maxIndex, b->maxIndex);
    expectCurrentEscape(a);
    expectCurrentEscape(b);
    ASSERT_EQ(a->links == nullptr, b->links == nullptr);
    for (int32_t i = 0; i <= a->maxIndex; i++) {
        ASSERT_EQ(a->stats[i].symbol, b->stats[i].symbol);
        ASSERT_EQ(a->stats[i].count, b->stats[i].count);
        if (a->links) {
            ASSERT_EQ(a->links[i] == nullptr, b->links[i] == nullptr);
            if (a->links[i])
                expectSameTree(a->links[i], b->links[i]);
        }
    }
}

inline void expectSameModel(const ContextModel* fast, const ContextModel* plain)
{
    ASSERT_EQ(fast->currentOrder, plain->currentOrder);
    ASSERT_EQ(fast->code, plain->code);
    ASSERT_EQ(fast->low, plain->low);
    ASSERT_EQ(fast->high, plain->high);
    ASSERT_EQ(0, std::memcmp(fast->excluded, plain->excluded, sizeof fast->excluded));
    for (int32_t k = 0; k <= fast->maxOrder; k++)
        expectSameTree(fast->contexts[k], plain->contexts[k]);
}

// Symbols, or with values set values (0..64008) as encodeContextValue writes them.
inline std::vector<uint8_t> encodeSymbols(const std::vector<int32_t>& symbols, int32_t maxOrder, bool values = false)
{
    BitSink out;
    ContextModel* model = createContextModel();
    startContextEncoder(maxOrder, model, 0);
    for (int32_t s : symbols)
        values ? encodeContextValue(out.writer(), s, model) : encodeContextSymbol(out.writer(), s, model);
    endContextEncoder(out.writer(), model);
    flushBitWriter(out.writer());
    return out.bytes();
}

#include "codec/entropy/context_model.h"

#include "codec/core/alloc.h"
#include "tests/support/bit_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct Encoder {
    ContextModel* model = createContextModel();
    BitSink buf;
    explicit Encoder(int32_t maxOrder) { startContextEncoder(maxOrder, model, 0); }
    void end()
    {
        endContextEncoder(buf.writer(), model);
        model = nullptr;
    }
    ~Encoder() { releaseContextModel(model); }
};

// A free-standing table, allocated the way the model's own are.
ContextTable* makeTable(const std::vector<SymbolStat>& entries, bool withLinks)
{
    ContextTable* t = static_cast<ContextTable*>(allocChecked(sizeof(ContextTable)));
    *t = {static_cast<int32_t>(entries.size()) - 1, nullptr, nullptr, nullptr};
    if (!entries.empty()) {
        t->stats = static_cast<SymbolStat*>(allocChecked(entries.size() * sizeof(SymbolStat)));
        std::copy(entries.begin(), entries.end(), t->stats);
    }
    if (withLinks) {
        t->links = static_cast<ContextTable**>(allocChecked((entries.size() + 1) * sizeof(ContextTable*)));
        std::fill(t->links, t->links + entries.size() + 1, nullptr);
    }
    return t;
}

void freeTable(ContextTable* t)
{
    freeChecked(t->stats);
    freeChecked(t->links);
    freeChecked(t);
}

int32_t escapeCount(ContextModel* m, const std::vector<SymbolStat>& entries)
{
    ContextTable* t = makeTable(entries, false);
    totalizeTable(m, t);
    freeTable(t);
    std::fill(m->excluded, m->excluded + 256, 0);
    return m->totals[0] - m->totals[1];
}

} // namespace

TEST(ContextModel, StartModel)
{
    Encoder order0(0);
    ContextModel* m = order0.model;
    EXPECT_EQ(m->currentOrder, 0);
    EXPECT_EQ(m->contexts[0]->maxIndex, -1);
    EXPECT_EQ(m->contexts[0]->lesser, m->contexts[-1]);
    ContextTable* nullTable = m->contexts[-1];
    ASSERT_EQ(nullTable->maxIndex, 255);
    EXPECT_EQ(nullTable->links[0], m->contexts[0]);
    EXPECT_EQ(nullTable->stats[0].count, 101);
    EXPECT_EQ(nullTable->stats[9].count, 11);
    EXPECT_EQ(nullTable->stats[99].count, 2);
    EXPECT_EQ(nullTable->stats[100].count, 1);
    totalizeTable(m, nullTable);
    EXPECT_EQ(m->totals[0], 739);
    EXPECT_EQ(m->totals[1] - m->totals[2], 101);
    ContextTable* markers = m->contexts[-2];
    ASSERT_EQ(markers->maxIndex, 1);
    EXPECT_EQ(markers->stats[0].symbol, 2);
    EXPECT_EQ(markers->stats[1].symbol, 1);

    // Order 1: the order-0 table gets {0, 0}, linked to the start context.
    Encoder order1(1);
    m = order1.model;
    ASSERT_EQ(m->contexts[0]->maxIndex, 0);
    EXPECT_EQ(m->contexts[0]->stats[0].symbol, 0);
    EXPECT_EQ(m->contexts[0]->stats[0].count, 0);
    EXPECT_EQ(m->contexts[0]->links[0], m->contexts[1]);
    EXPECT_EQ(m->contexts[1]->lesser, m->contexts[0]);
    EXPECT_EQ(m->contexts[1]->maxIndex, -1);

    // A first symbol 0 escapes twice for free, then the context follows 0: itself.
    ContextTable* start = m->contexts[1];
    encodeContextSymbol(order1.buf.writer(), 0, m);
    EXPECT_EQ(order1.buf.bitCount(), 2); // only order -1 narrows: 101 of 739
    EXPECT_EQ(m->contexts[0]->stats[0].count, 1);
    EXPECT_EQ(m->contexts[1], start);
    ASSERT_EQ(start->maxIndex, 0);
    EXPECT_EQ(start->stats[0].count, 1);
}

TEST(ContextModel, EscapeCountsTotalsAndExclusion)
{
    Encoder e(0);
    ContextModel* m = e.model;
    EXPECT_EQ(escapeCount(m, {{5, 7}}), 1);
    std::vector<SymbolStat> wide(129);
    for (int i = 0; i < 129; i++)
        wide[i] = {static_cast<uint8_t>(i), 1};
    EXPECT_EQ(escapeCount(m, wide), 65);
    wide[0].count = 10;
    EXPECT_EQ(escapeCount(m, wide), 7);
    EXPECT_EQ(escapeCount(m, {}), 1);
    EXPECT_EQ(escapeCount(m, {{3, 0}, {4, 0}}), 1);

    // Entries stack from the end; all but the last are excluded afterwards.
    ContextTable* t = makeTable({{7, 3}, {9, 2}, {11, 1}}, false);
    totalizeTable(m, t);
    EXPECT_EQ(m->totals[4], 0);
    EXPECT_EQ(m->totals[3], 1);
    EXPECT_EQ(m->totals[2], 3);
    EXPECT_EQ(m->totals[1], 6);
    EXPECT_EQ(m->totals[0], 6 + 1 + (253 * 2 / 256) / 3);
    EXPECT_TRUE(m->excluded[7] && m->excluded[9]);
    EXPECT_FALSE(m->excluded[11]);
    totalizeTable(m, m->contexts[-1]);
    EXPECT_EQ(m->totals[1], 738 - 13 - 11);
    EXPECT_EQ(m->totals[8] - m->totals[9], 0);  // symbol 7 excluded
    EXPECT_EQ(m->totals[12] - m->totals[13], 9); // the last entry of t still counts
    freeTable(t);
}

TEST(ContextModel, HalvingAndRescale)
{
    Encoder e(1);
    ContextModel* m = e.model;
    // Reaching 255 halves at once; with links a count of 0 stays.
    ContextTable* linked = makeTable({{1, 254}, {2, 1}}, true);
    updateTable(m, linked, 1);
    ASSERT_EQ(linked->maxIndex, 1);
    EXPECT_EQ(linked->stats[0].count, 127);
    EXPECT_EQ(linked->stats[1].count, 0);
    freeTable(linked);
    // Without links trailing zero counts go.
    ContextTable* plain = makeTable({{1, 254}, {2, 3}, {3, 1}, {4, 1}}, false);
    updateTable(m, plain, 1);
    ASSERT_EQ(plain->maxIndex, 1);
    EXPECT_EQ(plain->stats[1].count, 1);
    freeTable(plain);

    // A new symbol moves to the front of its count block.
    ContextTable* ordered = makeTable({{1, 5}, {2, 1}, {3, 1}}, true);
    m->currentOrder = 0;
    updateTable(m, ordered, 3);
    EXPECT_EQ(ordered->stats[1].symbol, 3);
    EXPECT_EQ(ordered->stats[1].count, 2);
    updateTable(m, ordered, 9);
    ASSERT_EQ(ordered->maxIndex, 3);
    EXPECT_EQ(ordered->stats[3].symbol, 9);
    EXPECT_EQ(ordered->stats[3].count, 1);
    m->currentOrder = m->maxOrder;
    freeTable(ordered);

    // Totals of 16383 or more rescale, as often as needed.
    std::vector<SymbolStat> heavy(129);
    for (int i = 0; i < 129; i++)
        heavy[i] = {static_cast<uint8_t>(i), 254};
    ContextTable* big = makeTable(heavy, true);
    totalizeTable(m, big);
    EXPECT_EQ(big->stats[0].count, 63);
    EXPECT_LT(m->totals[0], 16383);
    EXPECT_EQ(m->totals[1], 63 * 129);
    freeTable(big);
}

TEST(ContextModel, ValuesAndMarkers)
{
    struct Case {
        std::vector<int32_t> symbols;
        int32_t value;
    };
    const Case cases[] = {{{252}, 252}, {{253, 1, 0}, 253}, {{253, 252, 252}, 64008}};
    for (const Case& c : cases) {
        Encoder viaSymbols(1), viaValue(1);
        for (int32_t s : c.symbols)
            EXPECT_EQ(encodeContextSymbol(viaSymbols.buf.writer(), s, viaSymbols.model), 0);
        EXPECT_EQ(encodeContextValue(viaValue.buf.writer(), c.value, viaValue.model), 0);
        viaSymbols.end();
        viaValue.end();
        ContextModel* dec = createContextModel();
        BitReader* reader = viaSymbols.buf.read();
        startContextDecoder(1, reader, dec);
        EXPECT_EQ(decodeContextValue(reader, dec), c.value);
        endContextDecoder(reader, dec);
        viaValue.buf.read();
        EXPECT_EQ(viaValue.buf.bytes(), viaSymbols.buf.bytes());
    }

    Encoder e(0);
    EXPECT_EQ(encodeContextValue(e.buf.writer(), 64009, e.model), kContextSymbolRefused);
    EXPECT_EQ(encodeContextValue(e.buf.writer(), -3, e.model), kContextSymbolRefused);
    EXPECT_EQ(encodeContextSymbol(e.buf.writer(), 256, e.model), kContextSymbolRefused);
    EXPECT_EQ(e.buf.bitCount(), 0);
    EXPECT_EQ(encodeContextSymbol(e.buf.writer(), 40, e.model), 0);
    EXPECT_EQ(encodeContextSymbol(e.buf.writer(), kContextFlushMarker, e.model), 0);
    EXPECT_EQ(e.model->currentOrder, 0);
    EXPECT_EQ(encodeContextSymbol(e.buf.writer(), kContextEndMarker, e.model), kContextEndMarker);
    EXPECT_EQ(e.model->currentOrder, -2);
    e.end();

    ContextModel* dec = createContextModel();
    BitReader* reader = e.buf.read();
    startContextDecoder(0, reader, dec);
    EXPECT_EQ(decodeContextSymbol(reader, dec), 40);
    EXPECT_EQ(decodeContextSymbol(reader, dec), kContextFlushMarker);
    EXPECT_EQ(dec->currentOrder, 0);
    EXPECT_EQ(decodeContextSymbol(reader, dec), kContextEndMarker);
    EXPECT_EQ(dec->currentOrder, -2);
    endContextDecoder(reader, dec);
    EXPECT_EQ(reader->endOfData, 0u);
}

TEST(ContextModel, LongRoundTripsEndOnTheExactBit)
{
    std::mt19937 rng(17);
    for (int32_t order : {0, 1, 2}) {
        for (int variant = 0; variant < 3; variant++) {
            SCOPED_TRACE(testing::Message() << "order " << order << " variant " << variant);
            Encoder enc(order);
            std::vector<int32_t> values;
            for (int i = 0; i < 20000; i++) {
                int32_t v;
                if (variant == 0)
                    v = std::geometric_distribution<int32_t>(0.3)(rng);
                else if (variant == 1)
                    v = static_cast<int32_t>(rng() % 256);
                else
                    v = static_cast<int32_t>(rng() % 64009) >> (rng() % 16);
                if (rng() % 3000 == 0)
                    v = kContextFlushMarker;
                values.push_back(v);
                ASSERT_GE(encodeContextValue(enc.buf.writer(), v, enc.model), 0);
            }
            encodeContextSymbol(enc.buf.writer(), kContextEndMarker, enc.model);
            enc.end();
            writeBits(enc.buf.writer(), 11, 0x4D5);

            ContextModel* dec = createContextModel();
            BitReader* reader = enc.buf.read();
            startContextDecoder(order, reader, dec);
            for (size_t i = 0; i < values.size(); i++)
                ASSERT_EQ(decodeContextValue(reader, dec), values[i]) << "value " << i;
            EXPECT_EQ(decodeContextSymbol(reader, dec), kContextEndMarker);
            int64_t before = enc.buf.bitsRead();
            endContextDecoder(reader, dec);
            EXPECT_EQ(enc.buf.bitsRead() - before, 3);
            EXPECT_EQ(readBits(reader, 11), 0x4D5u);
            EXPECT_EQ(reader->endOfData, 0u);
        }
    }
}

TEST(ContextModel, SingleSymbolSegment)
{
    Encoder enc(0);
    encodeContextSymbol(enc.buf.writer(), 0, enc.model);
    enc.end();
    writeBits(enc.buf.writer(), 4, 0x9);
    ContextModel* dec = createContextModel();
    BitReader* reader = enc.buf.read();
    startContextDecoder(0, reader, dec);
    EXPECT_EQ(decodeContextSymbol(reader, dec), 0);
    EXPECT_EQ(readBits(reader, 3), 1u);
    EXPECT_EQ(readBits(reader, 4), 0x9u);
    releaseContextModel(dec);
}

TEST(ContextModel, CorruptOrEndedData)
{
    BitSink buf;
    writeBits(buf.writer(), 16, 0xFFFF);
    writeBits(buf.writer(), 16, 0);
    BitReader* reader = buf.read();
    ContextModel* m = createContextModel();
    startContextDecoder(1, reader, m);

    // An escape at order -2 stops like the end marker.
    m->currentOrder = -2;
    EXPECT_EQ(decodeContextSymbol(reader, m), -1);
    EXPECT_EQ(m->currentOrder, -2);

    // A code outside [low, high] gives a count the totals cannot place: refused,
    // nothing narrowed or updated.
    for (uint16_t code : {0x1000, 0xD000}) {
        m->currentOrder = -1;
        m->low = 0x3000;
        m->high = 0xC000;
        m->code = code;
        EXPECT_EQ(decodeContextSymbol(reader, m), -1);
        EXPECT_EQ(m->currentOrder, -1);
        EXPECT_EQ(m->low, 0x3000);
        EXPECT_EQ(m->high, 0xC000);
        EXPECT_EQ(m->code, code);
        EXPECT_EQ(m->contexts[0]->stats[0].count, 0);
    }

    // At the end of data: 0 without reading, and the end search stops.
    while (!reader->endOfData)
        readBit(reader);
    EXPECT_EQ(decodeContextSymbol(reader, m), 0);
    endContextDecoder(reader, m);
}

TEST(ContextModel, RandomBitsStayInsideTables)
{
    std::mt19937 rng(123);
    for (int round = 0; round < 40; round++) {
        BitSink buf;
        for (int i = 0; i < 3000; i++)
            writeBits(buf.writer(), 8, rng() & 0xFF);
        BitReader* reader = buf.read();
        ContextModel* m = createContextModel();
        int32_t order = round % 2;
        startContextDecoder(order, reader, m);
        while (!reader->endOfData) {
            int32_t v = order ? decodeContextValue(reader, m) : decodeContextSymbol(reader, m);
            ASSERT_LE(v, 64008);
        }
        endContextDecoder(reader, m);
    }
}

TEST(ContextModelDeathTest, FatalErrors)
{
    EXPECT_EXIT(fatalError("Error #9: reallocating table space!"), testing::ExitedWithCode(255),
                "^Error #9: reallocating table space!\n$");
    EXPECT_EXIT(
        {
            // Static so that the leak checker sees them still reachable at the exit.
            static ContextModel* m = createContextModel();
            setAllocLimit(100);
            static BitSink buf;
            startContextDecoder(0, buf.read(), m);
        },
        testing::ExitedWithCode(255), "Failure #3: allocating null table!");
    EXPECT_EXIT(
        {
            static ContextModel* m = createContextModel();
            startContextEncoder(0, m, 255);
        },
        testing::ExitedWithCode(255), "below 255");
}

// The order-0 step after an escape: its marks against the exclusions the
// step-by-step decoder makes, and its walk against one entry at a time.
#include "codec/entropy/context_model.h"
#include "codec/entropy/root_step.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

namespace {

// A table over the given entries (kept alive by the caller).
ContextTable tableOf(std::vector<SymbolStat>& entries)
{
    ContextTable table{};
    table.maxIndex = static_cast<int32_t>(entries.size()) - 1;
    table.stats = entries.data();
    return table;
}

// The walk over the order-0 table one entry at a time, on the count itself.
int32_t walkEntryByEntry(const ContextTable& root, const std::vector<bool>& excluded, int32_t count, int32_t* rest,
                         int32_t* above)
{
    for (int32_t j = 0; j <= root.maxIndex; j++) {
        if (excluded[j])
            continue;
        *above = *rest;
        *rest -= root.stats[j].count;
        if (count >= *rest)
            return j;
    }
    return -1;
}

} // namespace

TEST(RootStep, MarksExcludeTheCountedEntriesButTheLast)
{
    std::mt19937 random(31);
    auto model = std::make_unique<ContextModel>();
    for (int trial = 0; trial < 400; trial++) {
        // The order-0 table: symbols in a random order, random counts.
        std::vector<uint8_t> symbols(256);
        std::iota(symbols.begin(), symbols.end(), 0);
        std::shuffle(symbols.begin(), symbols.end(), random);
        std::vector<SymbolStat> rootEntries(1 + random() % 256);
        for (size_t p = 0; p < rootEntries.size(); p++) {
            rootEntries[p] = {symbols[p], static_cast<uint8_t>(random() % 255)};
            model->rootPosition[symbols[p]] = static_cast<uint8_t>(p);
        }
        ContextTable root = tableOf(rootEntries);
        model->rootTable = &root;
        // The order-1 table: some of those symbols, many of them counting 0.
        std::vector<uint8_t> chosen(symbols.begin(), symbols.begin() + rootEntries.size());
        std::shuffle(chosen.begin(), chosen.end(), random);
        std::vector<SymbolStat> entries(1 + random() % chosen.size());
        for (size_t i = 0; i < entries.size(); i++)
            entries[i] = {chosen[i], static_cast<uint8_t>(random() % 3 == 0 ? 0 : 1 + random() % 254)};
        ContextTable table = tableOf(entries);

        RootMarks marks;
        int32_t sum = -1;
        ASSERT_TRUE(markRootPositions(model.get(), &table, &marks, &sum));
        std::vector<bool> excluded(rootEntries.size(), false);
        int32_t expectedSum = 0;
        for (int32_t i = 0; i <= table.maxIndex; i++) {
            const int32_t p = model->rootPosition[entries[i].symbol];
            ASSERT_EQ(rootEntryInTable(marks, p), i);
            if (entries[i].count != 0 && i != table.maxIndex) {
                excluded[p] = true;
                expectedSum += rootEntries[p].count;
            }
        }
        ASSERT_EQ(sum, expectedSum);
        for (size_t p = 0; p < rootEntries.size(); p++)
            ASSERT_EQ(marks.bytes[2 * p + 1], excluded[p] ? 0 : 0xFF) << trial << " position " << p;

        // A symbol of the table that is not where rootPosition says, counted or not.
        const uint8_t moved = entries[random() % entries.size()].symbol;
        const uint8_t position = model->rootPosition[moved];
        model->rootPosition[moved] = static_cast<uint8_t>(position == 0 ? 1 : position - 1); // beyond the table or another symbol
        ASSERT_FALSE(markRootPositions(model.get(), &table, &marks, &sum)) << trial;
        model->rootPosition[moved] = position;
    }
}

TEST(RootStep, WalkFindsTheEntryOfEachCount)
{
    // Every interval's ends, x an exact multiple of r and the largest x of the
    // same count, and random counts, over tables of every length and with
    // sparse or dense exclusions.
    std::mt19937 random(32);
    for (int trial = 0; trial < 600; trial++) {
        std::vector<SymbolStat> entries(1 + random() % 256);
        for (SymbolStat& e : entries)
            e = {static_cast<uint8_t>(random()), static_cast<uint8_t>(random() % 4 == 0 ? 0 : random() % 255)};
        if (trial % 2)
            std::sort(entries.begin(), entries.end(), [](SymbolStat a, SymbolStat b) { return a.count > b.count; });
        const ContextTable root = tableOf(entries);
        RootMarks marks{};
        std::vector<bool> excluded(entries.size());
        const uint32_t sparse = trial % 3 == 0 ? 20u : 2u;
        int32_t counted = 0;
        for (size_t j = 0; j < entries.size(); j++) {
            excluded[j] = random() % sparse == 0;
            // The first byte carries an entry of the escaped table: the walk ignores it.
            marks.bytes[2 * j] = static_cast<uint8_t>(random());
            marks.bytes[2 * j + 1] = excluded[j] ? 0 : 0xFF;
            counted += excluded[j] ? 0 : entries[j].count;
        }
        if (counted == 0)
            continue;
        const int32_t r = trial % 5 == 0 ? 1 + static_cast<int32_t>(random() % 4) : 16385 + static_cast<int32_t>(random() % 49152);
        // The bottom of every interval and the count just below it.
        std::vector<int32_t> counts;
        int32_t below = counted;
        for (size_t j = 0; j < entries.size(); j++) {
            below -= excluded[j] ? 0 : entries[j].count;
            if (below < counted) // the counted sum itself is the escape's
                counts.push_back(below);
            if (below > 0)
                counts.push_back(below - 1);
        }
        for (int k = 0; k < 20; k++)
            counts.push_back(static_cast<int32_t>(random() % static_cast<uint32_t>(counted)));
        for (const int32_t count : counts) {
            for (const int32_t x : {count * r, count * r + r - 1, count * r + static_cast<int32_t>(random() % r)}) {
                int32_t rest = counted, above = counted, expectedRest = counted, expectedAbove = counted;
                const int32_t expected = walkEntryByEntry(root, excluded, count, &expectedRest, &expectedAbove);
                ASSERT_EQ(findRootEntry(&root, marks, x, r, &rest, &above), expected) << trial << " x " << x;
                ASSERT_EQ(rest, expectedRest);
                ASSERT_EQ(above, expectedAbove);
            }
        }
    }
}

#include "codec/entropy/root_step.h"

#include "codec/core/force_inline.h"

#include <bit>
#include <cstring>

namespace {

static_assert(sizeof(SymbolStat) == 2, "the walk reads four entries as 64 bits");

// Eight bytes as a little-endian number, whatever the host's order.
ZR_INLINE uint64_t loadLittle64(const uint8_t* p)
{
    return uint64_t{p[0]} | uint64_t{p[1]} << 8 | uint64_t{p[2]} << 16 | uint64_t{p[3]} << 24 |
           uint64_t{p[4]} << 32 | uint64_t{p[5]} << 40 | uint64_t{p[6]} << 48 | uint64_t{p[7]} << 56;
}

} // namespace

// Out of line: inlined into the escape, the loop's values would not fit in
// registers beside the run's.
ZR_NOINLINE bool markRootPositions(const ContextModel* model, const ContextTable* table, RootMarks* marks, int32_t* excludedSum)
{
    const ContextTable* root = model->rootTable;
    const uint32_t rootLast = static_cast<uint32_t>(root->maxIndex);
    // Every position of the order-0 table counted (bytes 0, 0xFF, 0, 0xFF,
    // ...), in 64-byte blocks of wide stores up to the block of its last.
    constexpr uint64_t kCounted = std::endian::native == std::endian::little ? 0xFF00FF00FF00FF00u : 0x00FF00FF00FF00FFu;
    const uint8_t* marked = marks->bytes + 64 * (rootLast / 32 + 1);
    for (uint8_t* block = marks->bytes; block != marked; block += 64)
        for (int32_t i = 0; i < 64; i += 8)
            std::memcpy(block + i, &kCounted, sizeof kCounted);
    const SymbolStat* stats = table->stats;
    const SymbolStat* rootStats = root->stats;
    int32_t sum = 0;
    // A table holds each symbol once, so no position comes twice. Misplaced
    // symbols end the marking, which they make useless.
    const auto mark = [&](int32_t i, bool excluded) ZR_INLINE_LAMBDA {
        const uint8_t symbol = stats[i].symbol;
        const uint32_t p = model->rootPosition[symbol];
        if (p > rootLast || rootStats[p].symbol != symbol)
            return false;
        // Both bytes in one store.
        const uint16_t word = static_cast<uint16_t>(i | (excluded ? 0 : 0xFF00));
        const uint16_t stored =
            std::endian::native == std::endian::little ? word : static_cast<uint16_t>(word << 8 | word >> 8);
        std::memcpy(marks->bytes + 2 * p, &stored, sizeof stored);
        sum += excluded ? rootStats[p].count : 0;
        return true;
    };
    const int32_t last = table->maxIndex;
    for (int32_t i = 0; i < last; i++)
        if (!mark(i, stats[i].count != 0))
            return false;
    // The last entry is never excluded.
    if (last >= 0 && !mark(last, false))
        return false;
    *excludedSum = sum;
    return true;
}

int32_t findRootEntry(const ContextTable* root, const RootMarks& marks, int32_t x, int32_t r, int32_t* rest,
                      int32_t* above)
{
    constexpr uint64_t kLanes = 0x0001000100010001u;
    constexpr uint64_t kLaneTops = 0x8000800080008000u;
    const SymbolStat* stats = root->stats;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(stats);
    const int32_t entries = root->maxIndex + 1;
    int32_t j = 0;
    // Eight entries at a time while the sum after them stays above x: their
    // counted counts in 16-bit lanes, four to a word.
    for (; j + 8 <= entries; j += 8) {
        const uint64_t first =
            (loadLittle64(bytes + 2 * j) & loadLittle64(marks.bytes + 2 * j)) >> 8 & 0x00FF00FF00FF00FFu;
        const uint64_t second =
            (loadLittle64(bytes + 2 * j + 8) & loadLittle64(marks.bytes + 2 * j + 8)) >> 8 & 0x00FF00FF00FF00FFu;
        const int32_t groupSum = static_cast<int32_t>((first + second) * kLanes >> 48);
        if (x >= (*rest - groupSum) * r) {
            // Running sums of the counts, lane k holding entries 0..k (at most 8 x 254).
            const uint64_t low = first * kLanes;
            const uint64_t high = second * kLanes + (low >> 48) * kLanes;
            // The entry is the first whose running sum exceeds t: x / r stays
            // below the sum after every entry before it. Lanes holding t + 2^15
            // minus a running sum keep their top bit where the sum is at most t
            // (t is capped where every sum is below it).
            const int32_t t = *rest - x / r - 1;
            const uint64_t ts = static_cast<uint64_t>(t < 0x7FFF ? t : 0x7FFF) * kLanes | kLaneTops;
            const uint64_t passed = ((ts - low) & kLaneTops) >> 15 | ((ts - high) & kLaneTops) >> 14;
            const int32_t k = static_cast<int32_t>((passed & 0x0001000100010001u) * kLanes >> 48) +
                              static_cast<int32_t>((passed >> 1 & 0x0001000100010001u) * kLanes >> 48);
            // Lane k of the running sums and of the counts, picked without a branch.
            const uint64_t sums[2] = {low, high};
            const uint64_t counts[2] = {first, second};
            const int32_t shift = 16 * (k & 3);
            *rest -= static_cast<int32_t>(sums[k >> 2] >> shift & 0xFFFFu);
            *above = *rest + static_cast<int32_t>(counts[k >> 2] >> shift & 0xFFFFu);
            return j + k;
        }
        *rest -= groupSum;
    }
    // The rest one by one, with excluded entries counting 0.
    for (; j < entries; j++) {
        const int32_t top = *rest;
        *rest -= stats[j].count & marks.bytes[2 * j + 1];
        if (x >= *rest * r) {
            *above = top;
            return j;
        }
    }
    return -1;
}

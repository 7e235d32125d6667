// 16-bit arithmetic coder with underflow handling. Its registers live in the
// ContextModel record (context_model.h), which drives it step by step.
#pragma once
#include "codec/core/bit_reader.h"
#include "codec/core/force_inline.h"
#include "codec/entropy/context_model.h"

#include <bit>
#include <cstdint>

// One coding step: the interval [lowCount, highCount) out of scale (< 16384).
struct SymbolRange {
    uint16_t lowCount;
    uint16_t highCount;
    uint16_t scale;
};

// Decoder: reads the first 16 bits into code.
void startArithmeticDecoder(BitReader* reader, ContextModel* model);
// The count that code falls on; within [0, scale) for a consistent stream.
ZR_INLINE int16_t currentCount(const SymbolRange* range, const ContextModel* model);
// That count's numerator: the count is countNumerator / (high - low + 1).
ZR_INLINE int32_t countNumerator(uint32_t code, uint32_t low, int32_t scale)
{
    return (static_cast<int32_t>(code - low) + 1) * scale - 1;
}
// Narrows to the range and shifts in the bits that became settled.
ZR_INLINE void removeSymbol(BitReader* reader, const SymbolRange* range, ContextModel* model);

// The registers low and high narrowed to [lowCount, highCount) of scale and
// renormalised; code takes in `shifts` bits, then has bit 15 flipped by flip.
struct NarrowedInterval {
    uint32_t low;
    uint32_t high;
    int shifts;
    uint32_t flip;
};
ZR_INLINE NarrowedInterval narrowInterval(uint32_t low, uint32_t high, int32_t lowCount, int32_t highCount,
                                          int32_t scale);
// The same renormalisation for registers already narrowed.
ZR_INLINE NarrowedInterval settleInterval(uint32_t low, uint32_t high);

// Division by a scale through its reciprocal: for 0 < scale < 2^14, r in
// 1..65536 and c in 0..scale - 1, r * c / scale equals
// (r * c * scaleReciprocal(scale)) >> kScaleReciprocalShift. With
// m = ceil(2^44 / scale) = (2^44 + e) / scale, 0 <= e < scale, the product is
// r * c / scale + r * c * e / (scale * 2^44), and r * c * e <= 2^16 (scale - 1)^2
// < 2^44 keeps the excess below 1 / scale, too little to reach the next
// integer; r * c * m < 2^16 * scale * (2^44 / scale + 1) < 2^61 fits.
// A table lookup, not a division, so that the reciprocal is ready early.
inline constexpr int kScaleReciprocalShift = 44;
struct ScaleReciprocals {
    uint64_t of[0x4000];
};
constexpr ScaleReciprocals makeScaleReciprocals()
{
    ScaleReciprocals table{};
    for (uint64_t scale = 1; scale < 0x4000; scale++)
        table.of[scale] = ((uint64_t{1} << kScaleReciprocalShift) + scale - 1) / scale;
    return table;
}
inline constexpr ScaleReciprocals kScaleReciprocals = makeScaleReciprocals();
ZR_INLINE uint64_t scaleReciprocal(uint32_t scale)
{
    return kScaleReciprocals.of[scale & 0x3FFF];
}
ZR_INLINE uint32_t divideByScale(uint32_t product, uint64_t reciprocal)
{
    return static_cast<uint32_t>(product * reciprocal >> kScaleReciprocalShift);
}

// Encoder: narrows to the range and shifts out settled bits.
void startArithmeticEncoder(ContextModel* model);
void encodeRange(BitReader* writer, const SymbolRange* range, ContextModel* model);
// Closes a segment: the interval's last bits, 16 zero bits and a single 1 bit.
void flushArithmeticEncoder(BitReader* writer, ContextModel* model);

// Inline: one call of each per decoded symbol and escape.
ZR_INLINE int16_t currentCount(const SymbolRange* range, const ContextModel* model)
{
    int32_t r = (model->high - model->low) + 1;
    int32_t count = countNumerator(model->code, model->low, range->scale) / r;
    return static_cast<int16_t>(count);
}

ZR_INLINE NarrowedInterval narrowInterval(uint32_t low, uint32_t high, int32_t lowCount, int32_t highCount,
                                          int32_t scale)
{
    const int32_t r = static_cast<int32_t>(high - low) + 1;
    high = (low + static_cast<uint32_t>(r * highCount / scale) - 1) & 0xFFFFu;
    low = (low + static_cast<uint32_t>(r * lowCount / scale)) & 0xFFFFu;
    return settleInterval(low, high);
}

ZR_INLINE NarrowedInterval settleInterval(uint32_t low, uint32_t high)
{
    // Settled top bits: as many shifts as low and high have equal leading bits
    // (16 when they are equal).
    const int settled = std::countl_zero(((low ^ high) << 16) | 0x8000u);
    low = (low << settled) & 0xFFFFu;
    high = ((high << settled) | ((1u << settled) - 1u)) & 0xFFFFu;
    // Underflow shifts follow while low has bit 14 set and high has it clear.
    // Each drops bit 14 of all three registers: low's bit 15 becomes 0, high's
    // 1 and code's flips (code ^= 0x4000, then a shift), which leaves code's
    // bit 15 flipped once after all of them. Without a branch: no underflow
    // shifts change nothing.
    const int underflow = std::countl_one(((low & ~high) & 0x7FFFu) << 17);
    const uint32_t any = underflow != 0;
    NarrowedInterval narrowed;
    narrowed.low = (low << underflow) & (0xFFFFu >> any);
    narrowed.high = ((high << underflow) | (any << 15) | ((1u << underflow) - 1u)) & 0xFFFFu;
    narrowed.shifts = settled + underflow;
    narrowed.flip = any << 15;
    return narrowed;
}

ZR_INLINE void removeSymbol(BitReader* reader, const SymbolRange* range, ContextModel* model)
{
    const NarrowedInterval n = narrowInterval(model->low, model->high, range->lowCount, range->highCount, range->scale);
    // Both kinds of shift take their bits into code in one run.
    if (n.shifts > 0) {
        const uint32_t code = (uint32_t{model->code} << n.shifts) | readBitRun(reader, n.shifts);
        model->code = static_cast<uint16_t>((code ^ n.flip) & 0xFFFFu);
    }
    model->low = static_cast<uint16_t>(n.low);
    model->high = static_cast<uint16_t>(n.high);
}

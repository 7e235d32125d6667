// Eight map codes at a time: which of them are still MAP_NOT_SIGNIFICANT.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

#include "codec/onepass/significance_marking.h"

// Whether mapBytes8 holds one flag per map code in memory order (little-endian
// hosts); elsewhere the scans go one code at a time.
constexpr bool kMapBytes8 = std::endian::native == std::endian::little;

// The high bit of byte k is set when p[k] is MAP_NOT_SIGNIFICANT; no other bit is.
inline uint64_t notSignificantBytes8(const uint8_t* p)
{
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    uint64_t x;
    std::memcpy(&x, p, sizeof x);
    x ^= 0x0101010101010101ull * MAP_NOT_SIGNIFICANT; // zero bytes where the code matched
    // Exact per byte (no borrow between bytes): the high bit of a zero byte only.
    return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// The other codes of the eight: one high bit per byte.
inline uint64_t otherBytes8(const uint8_t* p)
{
    return ~notSignificantBytes8(p) & 0x8080808080808080ull;
}

// Number of codes flagged (0..8), without a population-count instruction.
inline int32_t countFlaggedBytes(uint64_t flags)
{
    return static_cast<int32_t>(((flags >> 7) * 0x0101010101010101ull) >> 56);
}

// Index (0..7) of the first code flagged in a nonzero flag word.
inline int32_t firstFlaggedByte(uint64_t flags)
{
    return std::countr_zero(flags) >> 3;
}

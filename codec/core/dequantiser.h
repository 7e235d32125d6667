// Reconstruction of a coded magnitude index at the middle of its step,
// shared by the value coders of both decoding modes.
#pragma once
#include <cstdint>

// Quantiser of one band value call. All arithmetic wraps as 32-bit.
struct Dequantiser {
    int32_t quantStep;   // q
    int32_t fineStep;    // h (fine quantiser only)
    int32_t fineCount;   // K: indexes below K use the fine step
    int32_t fine;        // nonzero: fine quantiser
    int32_t exact;       // index 1 reconstructs at exactly one step
    int32_t boost;       // magnitudeBoost, applied when nonzero
};

// h = q / (fineSteps + 1), at least 1. The divisor is widened so that no
// header value can divide by zero or overflow.
inline int32_t fineStepFor(int32_t quantStep, int32_t fineSteps)
{
    int64_t divisor = static_cast<int64_t>(fineSteps) + 1;
    if (divisor < 1)
        divisor = 1;
    int64_t h = static_cast<int64_t>(quantStep) / divisor;
    return h < 1 ? 1 : static_cast<int32_t>(h);
}

// Plain quantiser when fine is 0. kAlways gives K = q / h even when
// fineSteps is 0 (value coder 2).
inline Dequantiser makeDequantiser(uint32_t quantStep, uint32_t exactSteps, int32_t L, int32_t fine,
                                   int32_t magnitudeBoost, int32_t fineSteps, int32_t kAlways)
{
    Dequantiser d{};
    d.quantStep = static_cast<int32_t>(quantStep);
    d.exact = exactSteps != 0 && L < 2;
    d.fine = fine;
    if (!fine)
        return d;
    d.fineStep = fineStepFor(d.quantStep, fineSteps);
    d.fineCount = (fineSteps > 0 || kAlways) ? d.quantStep / d.fineStep : 0;
    d.boost = (L < 2 && exactSteps == 0) ? magnitudeBoost : 0;
    return d;
}

// J x step + step / 2, or exactly one step for index 1 in the exact case.
inline int32_t stepMagnitude(int32_t J, int32_t step, int32_t exact)
{
    if (exact && J == 1)
        return step;
    return static_cast<int32_t>(static_cast<uint32_t>(J) * static_cast<uint32_t>(step)
                                + static_cast<uint32_t>(step >> 1));
}

inline int32_t dequantiseMagnitude(const Dequantiser* d, int32_t J)
{
    if (!d->fine)
        return stepMagnitude(J, d->quantStep, d->exact);
    int32_t v = J < d->fineCount
        ? stepMagnitude(J, d->fineStep, d->exact)
        : stepMagnitude(static_cast<int32_t>(static_cast<uint32_t>(J) - static_cast<uint32_t>(d->fineCount)),
                        d->quantStep, d->exact);
    if (d->boost)
        v = static_cast<int32_t>(static_cast<uint32_t>(v)
                                 + static_cast<uint32_t>(static_cast<int32_t>(
                                       static_cast<uint32_t>(v) * static_cast<uint32_t>(d->boost)) >> 3));
    return v;
}

// A nonzero context-model symbol of the value coder: index (s - 1) / 2,
// negative when s is odd. A corrupt stream's -1 is used as it comes (odd,
// index -1).
inline int32_t indexOfSymbol(int32_t s)
{
    return static_cast<int32_t>(static_cast<uint32_t>(s) - 1u) >> 1;
}

// The signed value of such a symbol.
inline int32_t valueOfSymbol(const Dequantiser* d, int32_t s)
{
    const int32_t v = dequantiseMagnitude(d, indexOfSymbol(s));
    return (s & 1) != 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v;
}

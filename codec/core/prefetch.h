// Asking for a cache line before it is written, where the access pattern
// defeats the hardware's own prefetching. Only a hint: no effect elsewhere.
#pragma once

#include "codec/core/force_inline.h"

ZR_INLINE void prefetchForWrite(const void* p)
{
#if defined(__GNUC__)
    __builtin_prefetch(p, 1);
#else
    (void)p;
#endif
}

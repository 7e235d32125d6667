// Inlining hints for hot paths that must fold into their callers.
#pragma once

#if defined(__GNUC__)
#define ZR_INLINE inline __attribute__((always_inline))
#define ZR_INLINE_LAMBDA __attribute__((always_inline))
#define ZR_NOINLINE __attribute__((noinline))
#else
#define ZR_INLINE inline
#define ZR_INLINE_LAMBDA
#define ZR_NOINLINE
#endif

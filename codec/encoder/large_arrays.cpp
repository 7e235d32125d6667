#include "codec/encoder/large_arrays.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// Smaller arrays would not hold a whole huge page.
constexpr size_t kHugePage = size_t(2) << 20;

} // namespace

void adviseHugePages(void* data, size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // The advice applies to whole pages: the huge pages inside the array.
    uintptr_t start = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHugePage - 1);
    if (end > start)
        madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
    (void)kHugePage;
#endif
}

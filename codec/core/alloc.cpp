#include "codec/core/alloc.h"

#include <atomic>
#include <cstdlib>
#ifndef _WIN32
#include <unistd.h>
#endif
#if defined(__linux__) && !defined(__EMSCRIPTEN__)
#include <sys/mman.h>
#define ZR_HUGE_PAGES 1
#endif

namespace {

size_t defaultLimit()
{
#ifdef _WIN32
    // A 32-bit Windows process has 2 GiB of address space.
    return static_cast<size_t>(1) << 30;
#else
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return static_cast<size_t>(1) << 30;
    unsigned long long half = static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(pageSize) / 2;
    if (half > SIZE_MAX)
        return SIZE_MAX;
    return static_cast<size_t>(half);
#endif
}

// 0 means "not set yet": the default is computed on first use.
std::atomic<size_t> limitBytes{0};

} // namespace

size_t allocLimit()
{
    size_t limit = limitBytes.load(std::memory_order_relaxed);
    if (limit == 0) {
        limit = defaultLimit();
        limitBytes.store(limit, std::memory_order_relaxed);
    }
    return limit;
}

void setAllocLimit(size_t bytes)
{
    limitBytes.store(bytes == 0 ? defaultLimit() : bytes, std::memory_order_relaxed);
}

namespace {

// Smaller blocks would not hold a whole huge page.
constexpr size_t kHugePage = static_cast<size_t>(2) << 20;

bool refused(size_t bytes)
{
    return bytes == 0 || bytes > allocLimit();
}

#ifdef ZR_HUGE_PAGES
// bytes rounded up to whole huge pages; bytes at most SIZE_MAX - kHugePage.
constexpr size_t wholeHugePages(size_t bytes)
{
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

// Planes and pixels are touched whole, page by page: on 2 MiB pages their
// first touch costs a few hundred faults instead of thousands. The advice
// covers the whole huge pages of the first `advised` bytes: a block's last
// partial page stays on small pages unless it is asked for (a huge page there
// would make its untouched end resident).
void* allocLarge(size_t bytes, size_t advised)
{
    if (bytes > SIZE_MAX - kHugePage)
        return nullptr; // the rounded size would wrap
    void* block = std::aligned_alloc(kHugePage, wholeHugePages(bytes));
    if (block)
        adviseHugePages(block, advised);
    return block;
}
#endif

} // namespace

#if defined(ZR_HUGE_PAGES) && (defined(MADV_HUGEPAGE) || defined(MADV_POPULATE_WRITE))
namespace {

// madvise(advice) over the whole pages of pageBytes inside the block, so
// that nothing beyond it is affected.
void adviseInnerPages(void* data, size_t bytes, uintptr_t pageBytes, int advice)
{
    const uintptr_t start = (reinterpret_cast<uintptr_t>(data) + pageBytes - 1) & ~(pageBytes - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(pageBytes - 1);
    if (end > start)
        madvise(reinterpret_cast<void*>(start), end - start, advice);
}

} // namespace
#endif

void adviseHugePages(void* data, size_t bytes)
{
#if defined(ZR_HUGE_PAGES) && defined(MADV_HUGEPAGE)
    adviseInnerPages(data, bytes, kHugePage, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
    (void)kHugePage;
#endif
}

void prefaultPages(void* data, size_t bytes)
{
#if defined(ZR_HUGE_PAGES) && defined(MADV_POPULATE_WRITE)
    adviseInnerPages(data, bytes, static_cast<uintptr_t>(sysconf(_SC_PAGE_SIZE)), MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)bytes;
#endif
}

void* allocChecked(size_t bytes)
{
    if (refused(bytes))
        return nullptr;
#ifdef ZR_HUGE_PAGES
    if (bytes >= kHugePage)
        return allocLarge(bytes, bytes);
#endif
    return std::malloc(bytes);
}

void* allocInHugePages(size_t bytes)
{
    if (refused(bytes))
        return nullptr;
#ifdef ZR_HUGE_PAGES
    return allocLarge(bytes, wholeHugePages(bytes));
#else
    return std::malloc(bytes);
#endif
}

void trimHugePages(void* block, size_t bytes, size_t used)
{
#if defined(ZR_HUGE_PAGES) && defined(MADV_HUGEPAGE) && defined(MADV_DONTNEED)
    if (!block || used > bytes || bytes > SIZE_MAX - kHugePage)
        return;
    // allocLarge reserved the block up to its last huge page's end.
    adviseInnerPages(static_cast<uint8_t*>(block) + used, wholeHugePages(bytes) - used,
                     static_cast<uintptr_t>(sysconf(_SC_PAGE_SIZE)), MADV_DONTNEED);
#else
    (void)block;
    (void)bytes;
    (void)used;
#endif
}

void freeChecked(void* block)
{
    std::free(block);
}

size_t budgetLimit(const AllocBudget* budget)
{
    return budget->limit != 0 ? budget->limit : allocLimit();
}

void* allocFromBudget(AllocBudget* budget, size_t bytes)
{
    if (budget) {
        size_t limit = budgetLimit(budget);
        if (budget->used > limit || bytes > limit - budget->used)
            return nullptr;
    }
    void* block = allocChecked(bytes);
    if (block && budget)
        budget->used += bytes;
    return block;
}

void returnToBudget(AllocBudget* budget, size_t bytes)
{
    if (budget)
        budget->used = bytes < budget->used ? budget->used - bytes : 0;
}

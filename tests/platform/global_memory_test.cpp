#include <gtest/gtest.h>

#include <cstring>

#include "platform/layer_hooks.h"

namespace {

TEST(GlobalMemory, MoveableBlockLocksAndFrees)
{
    long before = zrGlobalBlockCount();
    HGLOBAL h = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, 100);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 100u);
    EXPECT_EQ(zrGlobalBlockCount(), before + 1);

    char* p = static_cast<char*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_NE(static_cast<void*>(p), h);
    std::memset(p, 7, 100);
    EXPECT_EQ(GlobalLock(h), p); // locked twice
    EXPECT_TRUE(GlobalUnlock(h));
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));

    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(zrGlobalBlockCount(), before);
    // A freed handle is refused everywhere.
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GlobalSize(h), 0u);
    EXPECT_EQ(GlobalFree(h), h);
}

TEST(GlobalMemory, FixedAndZeroedBlocks)
{
    HGLOBAL h = GlobalAlloc(GPTR, 64);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), h);
    const unsigned char* p = static_cast<const unsigned char*>(h);
    for (int i = 0; i < 64; i++)
        ASSERT_EQ(p[i], 0);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, EmptyMoveableBlockIsDiscarded)
{
    HGLOBAL h = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 0u);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISCARDED));
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, FailureHookCountsDown)
{
    zrFailGlobalAllocAfter(1);
    HGLOBAL first = GlobalAlloc(GMEM_MOVEABLE, 8);
    HGLOBAL second = GlobalAlloc(GMEM_MOVEABLE, 8);
    HGLOBAL third = GlobalAlloc(GMEM_MOVEABLE, 8);
    zrFailGlobalAllocAfter(-1);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(third, nullptr);
    HGLOBAL again = GlobalAlloc(GMEM_MOVEABLE, 8);
    EXPECT_NE(again, nullptr);
    GlobalFree(first);
    GlobalFree(again);
}

} // namespace
